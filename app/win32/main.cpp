// The Windows program: the application object hands the machine's serial ports, clock and
// open-file dialog to the main window, shows it modally, and the program ends when it closes.
#include <windows.h>

#include <commctrl.h>

#include "app/system/signed_image_gate.h"
#include "model/localized.h"
#include "serial/clock.h"
#include "serial/win32_port_driver.h"
#include "ui/win32/file_chooser.h"
#include "ui/win32/updater_dlg.h"

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
    updater::UseSystemLanguage();

    // Locals holding all the window's buffers, for the length of the modal loop.
    updater::Win32PortDriver ports;
    updater::SystemClock clock;
    Win32FileChooser files;
    // Signed images only, where an administrator has installed a key.
    updater::SignedImageGate gate;
    CUpdaterDlg dlg(ports, clock, files, instance);
    dlg.core().SetImageGate(&gate);
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
