#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <string_view>

#include "download/updater_core.h"
#include "model/displays.h"
#include "model/progress_model.h"
#include "model/window_model.h"
#include "serial/clock.h"
#include "serial/port_driver.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/file_chooser.h"

class QContextMenuEvent;
class QMenu;
class QProgressBar;

// The main window (IDD_UPDATER_DIALOG). It owns the core by value and shows the core's displays
// with Qt widgets, through the window model that both windows share; each control's objectName is
// its identifier ("IDC_OPEN", ...).
class CUpdaterDlg : public QDialog, public updater::WindowToolkit {
  Q_OBJECT

 public:
  // The window over these ports, clock and file chooser (the program hands it the machine's own;
  // tests and the simulator others). A SystemClock gets the window's pump hook; another clock can
  // be given it with SetPumpHook(&CUpdaterDlg::PumpHook, dlg). A QtFileChooser is owned by this
  // window from here on.
  CUpdaterDlg(updater::PortDriver& driver, updater::Clock& clock, updater::FileChooser& chooser,
              QWidget* parent = nullptr);
  ~CUpdaterDlg() override;
  CUpdaterDlg(const CUpdaterDlg&) = delete;
  CUpdaterDlg& operator=(const CUpdaterDlg&) = delete;

  // updater::WindowToolkit: each a Qt call, shown at once.
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
  void ServeEvents() override;
  void RunStarting() override;
  void RunEnded() override;

  // The control with this identifier, or nullptr.
  QWidget* GetDlgItem(int id) const;
  // The dialog font's base units, from which the template's positions become pixels.
  const updater::DialogBaseUnits& base_units() const { return m_units; }
  const updater::ProgressModel& progress() const { return m_progress; }
  updater::UpdaterCore& core() { return m_core; }
  const updater::WindowModel& model() const { return m_model; }
  bool IsRunning() const { return m_model.running(); }

  // The window model's pump: pending painting and timer events run; the operator's input to this
  // window and requests to close it are dropped while a run lasts; returns when it wants to run
  // again, as WindowModel::Pump does. `dlg` is the CUpdaterDlg.
  static std::uint32_t PumpHook(void* dlg);

  // The system-menu command: IDM_ABOUTBOX (low four bits ignored) opens the About box.
  void OnSysCommand(unsigned nID);
  // The context menu: a separator and "Acerca de...", which opens the About box.
  void FillSystemMenu(QMenu& menu);

 public slots:
  void OnOpenFile();
  void OnProgram();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateFromTemplate();
  void OnInitDialog();
  void ApplyProgress();
  void PlaceWindow();
  void SetControlText(int id, const QString& text);
  bool IsOwnInput(QObject* watched) const;

  updater::FileChooser& m_chooser;
  QIcon m_hIcon;
  updater::DialogBaseUnits m_units;
  updater::ProgressModel m_progress;
  QProgressBar* m_progressBar = nullptr;
  bool m_bWaitCursor = false;
  bool m_bShown = false;
  bool m_bExposed = false;

  // What the core reports goes through the model to the widgets above.
  updater::WindowModel m_model;
  // Last: it reports through the displays above from its first call.
  updater::UpdaterCore m_core;
};
