#include "model/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "model/localized.h"
#include "model/resource.h"

namespace updater {

namespace {

constexpr char kLogEntryEnd[] = "\r\n";
constexpr std::size_t kLogEntryEndLength = 2;

// The message in the chosen language into `shown`, and in Spanish into `spanish`.
void FormatBoth(char (&shown)[Reporter::kMessageSize], char (&spanish)[Reporter::kMessageSize],
                const char* format, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  std::vsnprintf(spanish, sizeof spanish, format, args);
  const char* localized = Localized(format);
  if (localized == format)
    std::memcpy(shown, spanish, sizeof shown);
  else
    std::vsnprintf(shown, sizeof shown, localized, again);
  va_end(again);
}

}  // namespace

void Reporter::Report(const char* format, ...) {
  std::memset(m_message, 0, sizeof m_message);
  std::memset(m_spanish, 0, sizeof m_spanish);
  std::va_list args;
  va_start(args, format);
  FormatBoth(m_message, m_spanish, format, args);
  va_end(args);
  ShowStatus();
  AppendLog();
}

void Reporter::ShowOnly(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  FormatBoth(m_message, m_spanish, format, args);
  va_end(args);
  ShowStatus();
}

void Reporter::ReportTranslated(const char* shown, const char* spanish) {
  std::memset(m_message, 0, sizeof m_message);
  std::memset(m_spanish, 0, sizeof m_spanish);
  std::snprintf(m_message, sizeof m_message, "%s", shown);
  std::snprintf(m_spanish, sizeof m_spanish, "%s", spanish);
  ShowStatus();
  AppendLog();
}

void Reporter::ShowStatus() {
  displays_.SetTranslatedText(IDC_INFO,
                              std::string_view(m_message, strnlen(m_message, sizeof m_message)),
                              std::string_view(m_spanish, strnlen(m_spanish, sizeof m_spanish)));
}

void Reporter::AppendLog() {
  const std::size_t messageLength = strnlen(m_message, sizeof m_message);
  const std::size_t entryLength = messageLength + kLogEntryEndLength;
  // Room for the entry and the terminator; the oldest whole entries make way for the newest.
  while (m_nLogLength + entryLength + 1 > kLogSize && m_nLogLength > 0) {
    const char* begin = m_log;
    const char* end = m_log + m_nLogLength;
    std::size_t drop = m_nLogLength;
    for (const char* p = begin; p + 1 < end; ++p) {
      if (p[0] == '\r' && p[1] == '\n') {
        drop = static_cast<std::size_t>(p - begin) + kLogEntryEndLength;
        break;
      }
    }
    std::memmove(m_log, m_log + drop, m_nLogLength - drop);
    m_nLogLength -= drop;
    std::memset(m_log + m_nLogLength, 0, kLogSize - m_nLogLength);
  }
  std::memcpy(m_log + m_nLogLength, m_message, messageLength);
  std::memcpy(m_log + m_nLogLength + messageLength, kLogEntryEnd, kLogEntryEndLength);
  m_nLogLength += entryLength;
  m_log[m_nLogLength] = '\0';
  displays_.SetText(IDC_LOG, std::string_view(m_log, m_nLogLength));
}

void Reporter::ShowReceived(const std::uint8_t* received, std::size_t capacity) {
  const char* text = reinterpret_cast<const char*>(received);
  displays_.SetText(IDC_RX_VIEW, std::string_view(text, strnlen(text, capacity)));
}

void Reporter::ClearLog() {
  std::memset(m_log, 0, sizeof m_log);
  m_nLogLength = 0;
}

void Reporter::TransferCounts() {
  displays_.SetSignedNumber(IDC_SIZE, m_nSize);
  displays_.SetSignedNumber(IDC_SENT, m_nSent);
}

}  // namespace updater
