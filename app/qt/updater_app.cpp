#include "app/qt/updater_app.h"

#include "app/system/signed_image_gate.h"
#include "model/app_info.h"
#include "serial/clock.h"
#include "serial/posix_port_driver.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/updater_dlg.h"

CUpdaterApp::CUpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(updater::kApplicationName));
  setApplicationVersion(QString::fromLatin1(updater::kApplicationVersion));
}

bool CUpdaterApp::InitInstance() {
  // The machine's serial ports, clock and file dialog, and the window with every buffer it owns,
  // live here until it closes.
  updater::PosixPortDriver ports;
  updater::SystemClock clock;
  updater::QtFileChooser files;
  // Signed images only, where an administrator has installed a key.
  updater::SignedImageGate gate;
  CUpdaterDlg dlg(ports, clock, files);
  dlg.core().SetImageGate(&gate);
  m_pMainWnd = &dlg;
  dlg.exec();
  m_pMainWnd = nullptr;
  return false;
}
