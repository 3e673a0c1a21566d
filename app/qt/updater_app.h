#pragma once

#include <QApplication>

class CUpdaterDlg;

// The application object: names the program, shows the main window modally and returns when it
// closes, so that the process ends.
class CUpdaterApp : public QApplication {
 public:
  CUpdaterApp(int& argc, char** argv);

  // Runs the main window; false, as there is no message loop of the application's own to enter.
  bool InitInstance();

  CUpdaterDlg* m_pMainWnd = nullptr;
};
