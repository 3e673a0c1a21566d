#include "ui/win32/about_dlg.h"

#include "model/dialog_template.h"
#include "ui/win32/dialog_language.h"
#include "ui/win32/resource.h"

INT_PTR CAboutDlg::DoModal(HWND parent) {
  return DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), parent,
                         &CAboutDlg::DialogProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      ShowInChosenLanguage(hwnd, updater::kAboutBox);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
