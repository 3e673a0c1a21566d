#pragma once

#include <cstddef>
#include <cstdint>

#include "model/displays.h"

#if defined(__GNUC__)
#define UPDATER_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define UPDATER_PRINTF_FORMAT(fmt, args)
#endif

namespace updater {

// The status line, the log and the received-bytes view, and the two counts bound to the size and
// sent fields. Every message is formatted into the one message buffer; a "report" shows it and
// appends it to the log, "show only" leaves the log alone. A format is the Spanish text, marked
// for the catalog with Translatable(); the message is shown in the chosen language
// (model/localized.h), and given to the displays in Spanish too.
class Reporter {
 public:
  static constexpr std::size_t kMessageSize = 256;
  static constexpr std::size_t kLogSize = 65536;

  explicit Reporter(Displays& displays) : displays_(displays) {}
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // Shown in the status line and appended to the log.
  void Report(const char* format, ...) UPDATER_PRINTF_FORMAT(2, 3);
  // Shown in the status line only.
  void ShowOnly(const char* format, ...) UPDATER_PRINTF_FORMAT(2, 3);
  // A message already made in both languages, reported as Report does.
  void ReportTranslated(const char* shown, const char* spanish);

  void ShowStatus();
  // Appends the message and CR LF. When the entry would not fit, the oldest whole entries are
  // dropped so that the newest text is kept.
  void AppendLog();
  // Shows the received bytes as text, up to the first zero byte and never past `capacity`.
  void ShowReceived(const std::uint8_t* received, std::size_t capacity);

  // Zero-fills the log (the window does this once, when it opens).
  void ClearLog();
  // Transfers m_nSize and m_nSent to the size and sent fields.
  void TransferCounts();

  Displays& displays() { return displays_; }
  std::size_t log_length() const { return m_nLogLength; }

  char m_message[kMessageSize] = {};  // in the chosen language
  char m_spanish[kMessageSize] = {};  // the same in Spanish
  char m_log[kLogSize] = {};
  std::size_t m_nLogLength = 0;  // bytes of m_log before its terminator
  std::int32_t m_nSize = 0;
  std::int32_t m_nSent = 0;

 private:
  Displays& displays_;
};

}  // namespace updater
