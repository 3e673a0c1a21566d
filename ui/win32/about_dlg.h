#pragma once

#include <windows.h>

// The About box (IDD_ABOUTBOX): the icon, a product line, a year line and "Aceptar". It has no
// handlers of its own: OK and Cancel close it.
class CAboutDlg {
 public:
  explicit CAboutDlg(HINSTANCE instance) : m_hInstance(instance) {}

  // Runs the box modally over `parent`; IDOK or IDCANCEL, or -1 when it could not be created.
  INT_PTR DoModal(HWND parent);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE m_hInstance;
};
