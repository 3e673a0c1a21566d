#pragma once

#include <cstddef>

#include "download/downloader.h"
#include "download/image_gate.h"
#include "model/displays.h"
#include "model/reporter.h"
#include "serial/clock.h"
#include "serial/port_driver.h"
#include "serial/serial_link.h"

namespace updater {

// Asks the operator for the image file. The window implements it with its file dialog.
class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // Fills `path` (zero-terminated, at most `capacity` bytes) and returns true on OK.
  virtual bool Choose(char* path, std::size_t capacity) = 0;
};

// Everything the main window owns, without the window: the reporting buffers, the serial link and
// the image with its protocol state, and the two procedures the buttons start.
class UpdaterCore {
 public:
  static constexpr std::size_t kPathSize = 4096;

  UpdaterCore(Displays& displays, PortDriver& driver, Clock& clock)
      : m_report(displays),
        m_link(driver, clock, m_report),
        m_download(m_link, clock, m_report),
        clock_(clock) {}
  UpdaterCore(const UpdaterCore&) = delete;
  UpdaterCore& operator=(const UpdaterCore&) = delete;

  // The state the window resets when it opens: the log, the send position, the received bytes.
  void InitState();

  // "Abrir archivo": "Hay datos" in the status line, then the chooser; on OK the file is loaded.
  void OnOpenFile(FileChooser& chooser);
  // Loads the image file: size, sent count, progress range and the "Programar" button follow.
  // False when the file could not be read.
  bool LoadImage(const char* path);
  // From here on, an image the gate does not admit is refused when it is opened: its reason in a
  // message box, nothing loaded, "Programar" disabled. nullptr takes every image.
  void SetImageGate(ImageGate* gate) { gate_ = gate; }

  // "Programar": one programming run, from discovery to the closing of the port.
  void OnProgram() { Program(nullptr, nullptr); }
  // One programming run on the port the driver opens as `name` alone, shown as `shown` (see
  // SerialLink::FindDeviceOn); on COM1 to COM4 when `name` is nullptr.
  void Program(const char* name, const char* shown);
  // How the last run ended.
  RunOutcome last_outcome() const { return outcome_; }

  Reporter m_report;
  SerialLink m_link;
  Downloader m_download;

 private:
  Clock& clock_;
  RunOutcome outcome_ = RunOutcome::kNotRun;
  ImageGate* gate_ = nullptr;
};

}  // namespace updater
