#include "download/updater_core.h"

#include <cstring>
#include <string_view>

#include "download/image_file.h"
#include "model/localized.h"
#include "model/resource.h"
#include "serial/open_advice.h"

namespace updater {

void UpdaterCore::InitState() {
  m_report.ClearLog();
  m_download.m_nPosition = 0;
  std::memset(m_download.m_received, 0, sizeof m_download.m_received);
}

void UpdaterCore::OnOpenFile(FileChooser& chooser) {
  constexpr const char* kData = Translatable("Hay datos");
  m_report.displays().SetTranslatedText(IDC_INFO, Localized(kData), kData);
  char path[kPathSize] = {};
  if (!chooser.Choose(path, sizeof path))
    return;
  path[sizeof path - 1] = '\0';
  LoadImage(path);
}

bool UpdaterCore::LoadImage(const char* path) {
  Displays& displays = m_report.displays();
  ImageFile file;
  if (!file.Open(path)) {
    // Nothing changes: the image loaded before, if any, can still be programmed.
    m_report.Report(Translatable("No se puede abrir el archivo\n"));
    return false;
  }

  Downloader& d = m_download;
  std::memset(d.m_image, 0, sizeof d.m_image);
  std::uint32_t length = 0;
  const bool read = file.ReadAll(d.m_image, sizeof d.m_image, length);
  file.Close();
  char refusal[256] = "";
  const bool refused =
      read && gate_ != nullptr && !gate_->Admit(path, d.m_image, length, refusal, sizeof refusal);
  if (!read || refused) {
    // Part of a file is not an image: empty everything rather than offer it for programming.
    std::memset(d.m_image, 0, sizeof d.m_image);
    length = 0;
  }

  d.m_nFileLength = length;
  const char* text = reinterpret_cast<const char*>(d.m_image);
  displays.SetText(IDC_FILE_VIEW, std::string_view(text, strnlen(text, sizeof d.m_image)));
  displays.SetNumber(IDC_SIZE, d.m_nFileLength);
  m_report.m_nSize = static_cast<std::int32_t>(d.m_nFileLength);
  m_report.m_nSent = 0;
  displays.SetProgressRange(static_cast<std::uint16_t>(d.m_nFileLength & 0xFFFF));
  displays.SetProgressStep(1);
  displays.SetProgressPos(0);
  m_report.TransferCounts();

  if (!read || refused) {
    displays.Enable(IDC_PROGRAM, false);
    if (refused)
      displays.ShowMessageBox(refusal);
    else
      m_report.Report(Translatable("No se puede abrir el archivo\n"));
    return false;
  }
  if (d.m_nFileLength > 0)
    displays.Enable(IDC_PROGRAM, true);
  return true;
}

void UpdaterCore::Program(const char* name, const char* shown) {
  Displays& displays = m_report.displays();
  displays.SetText(IDC_SENT, "");
  displays.SetCursor(CursorShape::kWait);
  if (name == nullptr ? m_link.FindDevice() : m_link.FindDeviceOn(name, shown)) {
    m_download.ResetReceived();
    m_download.Download();
    m_link.ClosePort();
    outcome_ = m_download.outcome();
  } else if (clock_.Interrupted()) {
    // Stopped while searching: no device was missed.
    outcome_ = RunOutcome::kInterrupted;
  } else {
    outcome_ = RunOutcome::kNoDevice;
    m_report.Report(Translatable("No se puede conectar\n"));
    // A port that is there but would not open is the likeliest reason; say how to clear it.
    if (const OpenError* blocked = m_link.BlockedPort()) {
      char advice[Reporter::kMessageSize];
      char spanish[Reporter::kMessageSize];
      if (FormatOpenAdvice(*blocked, advice, sizeof advice) > 0 &&
          FormatOpenAdvice(*blocked, spanish, sizeof spanish, false) > 0) {
        m_report.ReportTranslated(advice, spanish);
      }
    }
  }
  displays.SetCursor(CursorShape::kArrow);
}

}  // namespace updater
