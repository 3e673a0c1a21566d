// The Windows program: the application object shows the main window modally and the program
// ends when it closes.
#include <windows.h>

#include <commctrl.h>

#include "ui/win32_updater_dlg.h"

namespace {

class CUpdaterApp {
 public:
  // Shows the window until it closes; false, as there is no message loop of the application's
  // own to enter afterwards.
  BOOL InitInstance(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    // A local holding all the window's buffers, for the length of the modal loop.
    CUpdaterDlg dlg(instance);
    m_pMainWnd = &dlg;
    dlg.DoModal(nullptr);  // OK or Cancel: the program ends either way
    m_pMainWnd = nullptr;
    return FALSE;
  }

 private:
  CUpdaterDlg* m_pMainWnd = nullptr;
};

CUpdaterApp theApp;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  theApp.InitInstance(instance);
  return 0;
}
