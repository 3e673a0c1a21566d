#include "app/updater_app.h"

#include "ui/qt_app_info.h"
#include "ui/qt_updater_dlg.h"

CUpdaterApp::CUpdaterApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(updater::kApplicationName));
  setApplicationVersion(QString::fromLatin1(updater::kApplicationVersion));
}

bool CUpdaterApp::InitInstance() {
  // The window and every buffer it owns live here until it closes.
  CUpdaterDlg dlg;
  m_pMainWnd = &dlg;
  dlg.exec();
  m_pMainWnd = nullptr;
  return false;
}
