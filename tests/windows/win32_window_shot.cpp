// Not a test: shows the window after a whole download to the device on COM3, for a screenshot.
// Usage: win32_window_shot IMAGE READY DONE — loads IMAGE, runs "Programar", creates the file
// READY and keeps the window up until the file DONE exists (at most a minute).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "download/updater_core.h"
#include "serial/clock.h"
#include "serial/win32_port_driver.h"
#include "ui/win32/resource.h"
#include "ui/win32/updater_dlg.h"

namespace {

class FixedChooser final : public updater::FileChooser {
 public:
  explicit FixedChooser(const char* path) : m_path(path) {}
  bool Choose(char* path, std::size_t capacity) override {
    const std::size_t length = std::strlen(m_path);
    if (length >= capacity)
      return false;
    std::memcpy(path, m_path, length + 1);
    return true;
  }

 private:
  const char* m_path;
};

void Pump(HWND dlg) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(dlg, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: win32_window_shot IMAGE READY DONE\n");
    return 2;
  }
  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  FixedChooser chooser(argv[1]);
  static CUpdaterDlg dlg(driver, clock, chooser);  // static: its buffers are large
  HWND hwnd = dlg.Create();
  if (hwnd == nullptr)
    return 1;
  Pump(hwnd);
  SendMessageA(GetDlgItem(hwnd, IDC_OPEN), BM_CLICK, 0, 0);
  SendMessageA(GetDlgItem(hwnd, IDC_PROGRAM), BM_CLICK, 0, 0);
  Pump(hwnd);
  if (FILE* ready = std::fopen(argv[2], "w"))
    std::fclose(ready);
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000;) {
    Pump(hwnd);
    if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES)
      break;
    Sleep(50);
  }
  return dlg.progress().position() == 0 ? 1 : 0;
}
