#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "download/updater_core.h"
#include "model/app_info.h"
#include "model/displays.h"
#include "model/progress_model.h"
#include "model/reporter.h"
#include "model/window_model.h"
#include "serial/clock.h"
#include "serial/port_driver.h"
#include "ui/win32/file_chooser.h"

// The main window (IDD_UPDATER_DIALOG) as a Win32 dialog procedure. It owns the core by value and
// shows the core's displays through the dialog's controls, through the window model that both
// windows share; texts go to the ANSI calls as the Windows-1252 bytes they are.
class CUpdaterDlg final : public updater::WindowToolkit {
 public:
  // The window over these ports, clock and file chooser (the program hands it the machine's own;
  // tests others). `instance` holds the dialog templates (the program's module when null). A
  // SystemClock gets the window's pump hook; another clock can be given it with
  // SetPumpHook(&CUpdaterDlg::PumpHook, dlg). A Win32FileChooser gets the window as its owner.
  CUpdaterDlg(updater::PortDriver& driver, updater::Clock& clock, updater::FileChooser& chooser,
              HINSTANCE instance = nullptr);
  ~CUpdaterDlg() override;
  CUpdaterDlg(const CUpdaterDlg&) = delete;
  CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

  // Runs the window modally; returns IDOK or IDCANCEL, or -1 when it could not be created.
  INT_PTR DoModal(HWND parent = nullptr);
  // Creates the window without a modal loop of its own (the caller pumps); null on failure.
  // Ending it (Escape, the close box) destroys it.
  HWND Create(HWND parent = nullptr);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // updater::WindowToolkit: each a Win32 call, shown at once.
  void SetText(int id, std::string_view text) override;
  void SetNumber(int id, std::uint32_t value) override;
  void SetSignedNumber(int id, std::int32_t value) override;
  void Enable(int id, bool enabled) override;
  void SetProgressRange(std::uint16_t upper) override;
  void SetProgressStep(int step) override;
  void SetProgressPos(int position) override;
  void StepProgress() override;
  void ShowMessageBox(std::string_view text) override;
  void SetCursor(updater::CursorShape shape) override;
  bool EventsPending() override;
  std::uint32_t ServeIntervalMs() const override;
  // Paints and timers are served, the operator's input and close requests are dropped.
  void ServeEvents() override;
  void RunEnded() override;

  const updater::ProgressModel& progress() const { return m_progress; }
  const updater::WindowModel& model() const { return m_model; }
  updater::UpdaterCore& core() { return m_core; }
  bool IsRunning() const { return m_model.running(); }

  // The window model's pump, which the core runs while it waits; returns when it wants to run
  // again, as WindowModel::Pump does. `dlg` is the CUpdaterDlg.
  static std::uint32_t PumpHook(void* dlg);

  // Where the icon goes in a minimised window's client area of this size.
  static POINT IconOrigin(int width, int height, int cxIcon, int cyIcon);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  BOOL OnInitDialog();
  // True when handled; false leaves the command to the default handling.
  bool OnSysCommand(UINT nID, LPARAM lParam);
  bool OnPaint();
  HICON OnQueryDragIcon() const { return m_hIcon; }
  bool OnCommand(WPARAM wParam);
  void OnOpenFile();
  void OnProgram();
  void EndWith(INT_PTR result);
  void DropInput();
  void ApplyProgressPos();
  // `text` zero-terminated in m_text, cut to its capacity.
  const char* Terminated(std::string_view text);

  updater::FileChooser& m_chooser;
  HINSTANCE m_hInstance;
  HWND m_hWnd = nullptr;
  HICON m_hIcon = nullptr;
  updater::ProgressModel m_progress;
  bool m_bModal = false;
  bool m_bWaitCursor = false;
  // The longest text a display receives: the whole image or the whole log, and a terminator.
  char m_text[updater::Reporter::kLogSize + 1] = {};

  // What the core reports goes through the model to the controls above.
  updater::WindowModel m_model;
  // Last: it reports through the displays above from its first call.
  updater::UpdaterCore m_core;
};
