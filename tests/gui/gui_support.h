#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTest>
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "serial/posix_port_driver.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "ui/qt/updater_dlg.h"

class QWidget;

namespace guitest {

// Answers the open-file dialog as the operator would: a path, or Cancel.
class ScriptedChooser final : public updater::FileChooser {
 public:
  bool Choose(char* path, std::size_t capacity) override;

  void Answer(const QString& path) { path_ = path; }
  void Cancel() { path_.clear(); }
  int calls() const { return calls_; }

 private:
  QString path_;
  int calls_ = 0;
};

// COM1 to COM4 for the real POSIX driver: paths that do not exist, except those set.
class PortTable {
 public:
  explicit PortTable(const support::TempDir& dir);
  void Set(int index, const std::string& path) { paths_[static_cast<std::size_t>(index)] = path; }
  updater::PosixPortDriver::PathTable table() const;

 private:
  std::array<std::string, 4> paths_;
};

// The window with every port absent, a clock that skips its pauses and a scripted file chooser.
struct OfflineWindow {
  support::TempDir dir;
  PortTable ports{dir};
  updater::PosixPortDriver driver{ports.table()};
  fakes::SkippingClock clock;
  ScriptedChooser chooser;
  CUpdaterDlg dlg{driver, clock, chooser};
};

// Starts the device simulator with `args` (plus a time-out, so that it never outlives a failed
// test) and reads the terminal's path.
bool StartSim(support::SimProcess& sim, const QStringList& args);

// The test's folder, and `name` in it, as Qt names files.
QString Folder(const support::TempDir& dir);
QString FilePath(const support::TempDir& dir, const QString& name);

// Writes `size` bytes, none of them zero, to `name` in `dir`; the path, or empty on failure.
QString WriteImage(const support::TempDir& dir, const QString& name, int size);

// Runs `act` on the first widget `find` returns, polling from the event loop (modal dialogs and
// menus are answered this way); gives up after `timeoutMs`.
void WhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act,
               int timeoutMs = 10000);
// The active modal dialog of type T, or the open popup menu.
QWidget* ActiveModal();
QWidget* ActivePopup();

// The window with COM1, COM2 and COM4 absent and the simulator on COM3.
template <typename ClockType>
struct RunFixture {
  support::TempDir dir;
  guitest::PortTable ports{dir};
  support::SimProcess sim;
  ClockType clock;
  guitest::ScriptedChooser chooser;
  std::unique_ptr<updater::PosixPortDriver> driver;
  std::unique_ptr<CUpdaterDlg> dlg;

  // With no arguments no device is attached.
  bool Start(const QStringList& simArgs) {
    if (!simArgs.isEmpty()) {
      if (!guitest::StartSim(sim, simArgs))
        return false;
      ports.Set(2, sim.path());
    }
    driver = std::make_unique<updater::PosixPortDriver>(ports.table());
    dlg = std::make_unique<CUpdaterDlg>(*driver, clock, chooser);
    dlg->show();
    return QTest::qWaitForWindowExposed(dlg.get());
  }
  bool Load(int size) {
    image = guitest::WriteImage(dir, QStringLiteral("IMAGEN.QMZ"), size);
    chooser.Answer(image);
    dlg->OnOpenFile();
    return Button("IDC_PROGRAM")->isEnabled();
  }
  template <typename T = QWidget>
  T* Item(const char* name) const {
    return dlg->findChild<T*>(QString::fromLatin1(name));
  }
  QPushButton* Button(const char* name) const { return Item<QPushButton>(name); }
  QString Info() const { return Item<QLabel>("IDC_INFO")->text(); }
  QByteArray Log() const { return QByteArray(dlg->core().m_report.m_log); }

  QString image;
};

}  // namespace guitest
