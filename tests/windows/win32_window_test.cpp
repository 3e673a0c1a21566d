// The native window under Wine: the dialog is created, driven with SendMessage (BM_CLICK on the
// buttons, the file dialog answered by the test) and read back from its controls. The runs use
// the Win32 driver against the simulator on COM3 (scripts/test-windows serves it there).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/system/signed_image_gate.h"
#include "download/updater_core.h"
#include "model/app_info.h"
#include "serial/clock.h"
#include "serial/win32_port_driver.h"
#include "support/temp_dir.h"
#include "ui/win32/file_chooser.h"
#include "ui/win32/resource.h"
#include "ui/win32/updater_dlg.h"
#include "windows/com3_device.h"
#include "windows/window_support.h"

namespace {

using win32test::AnsweringChooser;
using win32test::Text;
using win32test::ThreadTimer;

// Lines of text: the image view wraps what it shows, and Wine's edit control takes close to a
// minute to wrap 64 KiB without a line break.
std::string WriteImage(const std::string& name, std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i)
    bytes[i] = static_cast<std::uint8_t>(i % 64 == 63 ? '\n' : 'A' + i % 26);
  return support::WriteImage(support::ProcessTempDir().File(name), bytes);
}

std::string ItemText(HWND dlg, int id) {
  static char text[70000];
  text[0] = '\0';
  GetDlgItemTextA(dlg, id, text, sizeof text);
  return text;
}

// A control's rectangle in its parent's client coordinates.
RECT ClientRectOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void ExpectRect(const RECT& rect, int x, int y, int cx, int cy, const char* what) {
  EXPECT_EQ(rect.left, x) << what;
  EXPECT_EQ(rect.top, y) << what;
  EXPECT_EQ(rect.right - rect.left, cx) << what;
  EXPECT_EQ(rect.bottom - rect.top, cy) << what;
}

int ProgressPos(HWND dlg) {
  return static_cast<int>(SendDlgItemMessageA(dlg, IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

PBRANGE ProgressRange(HWND dlg) {
  PBRANGE range = {};
  SendDlgItemMessageA(dlg, IDC_PROGRESS, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  return range;
}

void Click(HWND dlg, int id) {
  SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// Runs the thread's message loop, as the program's modal loop would, for `ms` milliseconds.
void PumpFor(HWND dlg, DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsWindow(dlg) || !IsDialogMessageA(dlg, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    Sleep(10);
  }
}

bool InputPending() {
  MSG msg;
  return PeekMessageA(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE) ||
         PeekMessageA(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE) ||
         PeekMessageA(&msg, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_NOREMOVE) ||
         PeekMessageA(&msg, nullptr, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) ||
         PeekMessageA(&msg, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_NOREMOVE);
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// The window created without its own modal loop, on the machine's driver and clock.
class Win32Window : public ::testing::Test {
 protected:
  Win32Window() : dlg(driver, clock, chooser) {}
  void SetUp() override {
    hwnd = dlg.Create();
    ASSERT_NE(hwnd, nullptr);
  }

  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  AnsweringChooser chooser;
  CUpdaterDlg dlg;
  HWND hwnd = nullptr;
};

// --- The window as it opens ----------------------------------------------------------------

TEST_F(Win32Window, OpensWithTheTemplatesControlsAndTexts) {
  EXPECT_EQ(Text(hwnd), "Actualizador 47913");
  EXPECT_TRUE(IsWindowVisible(hwnd));

  struct Expected {
    int id;
    const char* className;
    const char* text;
  };
  // Tab order is the order of the children.
  const Expected expected[] = {
      {IDC_OPEN, "Button", "Abrir archivo"},
      {-1, "Static", "Tama\xF1o"},
      {IDC_SIZE, "Edit", "0"},
      {-1, "Static", "Enviado"},
      {IDC_SENT, "Edit", "0"},
      {IDC_PROGRAM, "Button", "Programar"},
      {IDC_PROGRESS, "msctls_progress32", nullptr},
      {IDC_FILE_VIEW, "Edit", ""},
      {IDC_RX_VIEW, "Edit", ""},
      {IDC_STATE_LABEL, "Static", "Estado"},
      {IDC_INFO, "Static", "Info"},
      {IDC_LOG, "Edit", ""},
  };
  HWND child = GetWindow(hwnd, GW_CHILD);
  for (const Expected& e : expected) {
    ASSERT_NE(child, nullptr);
    char className[64] = {};
    GetClassNameA(child, className, sizeof className);
    EXPECT_EQ(GetDlgCtrlID(child), e.id);
    EXPECT_STRCASEEQ(className, e.className) << "id " << e.id;
    if (e.text != nullptr) {
      EXPECT_EQ(Text(child), e.text) << "id " << e.id;
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_OPEN)));
  EXPECT_EQ(GetFocus(), GetDlgItem(hwnd, IDC_OPEN));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
  for (const int id : {IDC_FILE_VIEW, IDC_RX_VIEW, IDC_LOG})
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(hwnd, id))) << "id " << id;
  for (const int id :
       {IDC_OPEN, IDC_PROGRAM, IDC_SIZE, IDC_SENT, IDC_PROGRESS, IDC_INFO, IDC_STATE_LABEL})
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(hwnd, id))) << "id " << id;
  EXPECT_EQ(ProgressPos(hwnd), 0);

  // The window's icon, also when dragged minimised.
  const auto big = SendMessageA(hwnd, WM_GETICON, ICON_BIG, 0);
  EXPECT_NE(big, 0);
  EXPECT_EQ(SendMessageA(hwnd, WM_GETICON, ICON_SMALL, 0), big);
  EXPECT_EQ(SendMessageA(hwnd, WM_QUERYDRAGICON, 0, 0), big);
}

TEST_F(Win32Window, MovedControlsAndWindowAreInPixelsTheRestInDialogUnits) {
  ExpectRect(ClientRectOf(GetDlgItem(hwnd, IDC_STATE_LABEL)), 100, 100, 80, 20, "state label");
  ExpectRect(ClientRectOf(GetDlgItem(hwnd, IDC_INFO)), 180, 100, 400, 20, "info");
  ExpectRect(ClientRectOf(GetDlgItem(hwnd, IDC_PROGRESS)), 100, 120, 400, 20, "progress");
  RECT window;
  GetWindowRect(hwnd, &window);
  ExpectRect(window, 100, 200, 600, 200, "window");

  // The buttons keep their template positions, through the dialog font's base units.
  RECT open = {20, 13, 20 + 52, 13 + 17};
  MapDialogRect(hwnd, &open);
  ExpectRect(ClientRectOf(GetDlgItem(hwnd, IDC_OPEN)), open.left, open.top, open.right - open.left,
             open.bottom - open.top, "Abrir archivo");
  RECT program = {76, 13, 76 + 52, 13 + 17};
  MapDialogRect(hwnd, &program);
  ExpectRect(ClientRectOf(GetDlgItem(hwnd, IDC_PROGRAM)), program.left, program.top,
             program.right - program.left, program.bottom - program.top, "Programar");
}

TEST_F(Win32Window, SystemMenuEndsWithASeparatorAndAcercaDe) {
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  ASSERT_NE(menu, nullptr);
  const int count = GetMenuItemCount(menu);
  ASSERT_GE(count, 2);
  EXPECT_EQ(GetMenuItemID(menu, count - 1), static_cast<UINT>(IDM_ABOUTBOX));
  char text[64] = {};
  GetMenuStringA(menu, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
  EXPECT_STREQ(text, "Acerca de...");
  MENUITEMINFOA separator = {};
  separator.cbSize = sizeof separator;
  separator.fMask = MIIM_FTYPE;
  ASSERT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(count - 2), TRUE, &separator));
  EXPECT_NE(separator.fType & MFT_SEPARATOR, 0u);
}

// --- Opening a file ------------------------------------------------------------------------

TEST_F(Win32Window, OpeningA300ByteFileShowsItsSizeAndEnablesProgramar) {
  chooser.answer = WriteImage("window_300.QMZ", 300);
  Click(hwnd, IDC_OPEN);
  EXPECT_EQ(chooser.calls, 1);
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Hay datos");
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "300");
  EXPECT_EQ(ItemText(hwnd, IDC_SENT), "0");
  EXPECT_EQ(ProgressRange(hwnd).iLow, 0);
  EXPECT_EQ(ProgressRange(hwnd).iHigh, 300);
  EXPECT_EQ(ProgressPos(hwnd), 0);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
  EXPECT_EQ(ItemText(hwnd, IDC_FILE_VIEW).size(), 300u);

  // Cancelling a second time leaves everything but the status line as it was.
  chooser.answer.clear();
  Click(hwnd, IDC_OPEN);
  EXPECT_EQ(chooser.calls, 2);
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Hay datos");
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "300");
  EXPECT_EQ(ProgressRange(hwnd).iHigh, 300);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
}

// The message box a refused image brings: its text, then answered.
struct BoxSeen {
  int opened = 0;
  std::string text;
};

void AnswerMessageBox(void* context, int) {
  auto* seen = static_cast<BoxSeen*>(context);
  HWND box = win32test::FindThreadWindow(updater::kApplicationName, "#32770");
  if (box == nullptr)
    return;
  ++seen->opened;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (Text(child).find("Imagen") != std::string::npos)
      seen->text = Text(child);
  }
  SendMessageA(box, WM_COMMAND, IDOK, 0);
}

TEST_F(Win32Window, WithAKeyInstalledAnImageIsRefusedWhenOpened) {
  const std::string keys = support::ProcessTempDir().File("keys");
  CreateDirectoryA(keys.c_str(), nullptr);
  updater::SignedImageGate gate(keys);
  dlg.core().SetImageGate(&gate);
  chooser.answer = WriteImage("window_unsigned.QMZ", 300);
  Click(hwnd, IDC_OPEN);  // no key yet: taken as ever
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "300");

  std::ofstream(keys + "\\maker.pub") << "untrusted comment: minisign public key\n";
  BoxSeen seen;
  {
    ThreadTimer timer(50, &AnswerMessageBox, &seen);
    Click(hwnd, IDC_OPEN);
  }
  EXPECT_EQ(seen.opened, 1);
  EXPECT_NE(seen.text.find("Imagen rechazada"), std::string::npos) << seen.text;
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "0");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
}

TEST_F(Win32Window, CancellingTheFirstOpenLeavesProgramarDisabled) {
  Click(hwnd, IDC_OPEN);
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Hay datos");
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "0");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
  // A click sent to the disabled button starts nothing.
  Click(hwnd, IDC_PROGRAM);
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Hay datos");
  EXPECT_EQ(dlg.core().m_report.log_length(), 0u);
}

TEST_F(Win32Window, AFullImageGivesAnEmptyRangeThatStillSteps) {
  // 65,536 bytes: the range's upper bound is the low 16 bits of the length, 0.
  chooser.answer = WriteImage("window_full.QMZ", 70000);
  Click(hwnd, IDC_OPEN);
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "65536");
  EXPECT_EQ(ProgressRange(hwnd).iLow, 0);
  EXPECT_EQ(ProgressRange(hwnd).iHigh, 0);
  EXPECT_EQ(ProgressPos(hwnd), 0);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwnd, IDC_PROGRAM)));
  for (int i = 0; i < 300; ++i)
    dlg.StepProgress();
  EXPECT_EQ(ProgressPos(hwnd), 0);
  EXPECT_EQ(dlg.progress().position(), 0);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(Win32Window, StepsPastTheUpperBoundStartAgainFromZero) {
  dlg.SetProgressRange(300);
  dlg.SetProgressStep(128);
  dlg.SetProgressPos(0);
  dlg.StepProgress();
  dlg.StepProgress();
  EXPECT_EQ(ProgressPos(hwnd), 256);
  dlg.StepProgress();  // 384 is past 300
  EXPECT_EQ(ProgressPos(hwnd), 0);
  EXPECT_EQ(dlg.progress().position(), 0);
  dlg.SetProgressStep(1);
  dlg.SetProgressPos(300);
  dlg.StepProgress();
  EXPECT_EQ(ProgressPos(hwnd), 0);
}

TEST_F(Win32Window, Windows1252TextsReachTheControlsUnchanged) {
  ASSERT_EQ(GetACP(), 1252u) << "the ANSI code page under test";
  dlg.SetText(IDC_INFO, "Error de comunicaci\xF3n \x80");
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Error de comunicaci\xF3n \x80");
  wchar_t wide[64] = {};
  GetDlgItemTextW(hwnd, IDC_INFO, wide, 64);
  EXPECT_STREQ(wide, L"Error de comunicaci\u00F3n \u20AC");
  // An empty view empties the display; a view stops at its length, not at a terminator.
  dlg.SetText(IDC_INFO, std::string_view("Cerrar COM2\nXYZ", 12));
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Cerrar COM2\n");
  dlg.SetText(IDC_INFO, {});
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "");
  dlg.SetSignedNumber(IDC_SENT, -5);
  EXPECT_EQ(ItemText(hwnd, IDC_SENT), "-5");
  dlg.SetNumber(IDC_SIZE, 4000000000u);
  EXPECT_EQ(ItemText(hwnd, IDC_SIZE), "4000000000");
}

// The common open-file dialog itself, answered from a timer as an operator would type.
struct FileDialogAnswer {
  std::string path;
  std::string initialName;
  bool seen = false;
};

BOOL CALLBACK FindFileDialog(HWND window, LPARAM found) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

TEST_F(Win32Window, TheOpenFileDialogStartsAtStarQmzAndReturnsTheTypedName) {
  Win32FileChooser files;
  files.SetOwner(hwnd);
  FileDialogAnswer answer;
  answer.path = WriteImage("typed.QMZ", 10);
  ThreadTimer timer(
      100,
      [](void* context, int tick) {
        auto* a = static_cast<FileDialogAnswer*>(context);
        HWND dialog = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), &FindFileDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog == nullptr || a->seen) {
          if (tick > 100 && dialog != nullptr)
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
          return;
        }
        a->seen = true;
        constexpr int kFileNameCombo = 0x47C;  // cmb13
        char text[256] = {};
        GetDlgItemTextA(dialog, kFileNameCombo, text, sizeof text);
        a->initialName = text;
        SetDlgItemTextA(dialog, kFileNameCombo, a->path.c_str());
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
      },
      &answer);
  char path[updater::UpdaterCore::kPathSize] = {};
  const bool chosen = files.Choose(path, sizeof path);
  EXPECT_TRUE(answer.seen);
  EXPECT_EQ(answer.initialName, "*.QMZ");
  ASSERT_TRUE(chosen);
  EXPECT_STRCASEEQ(path, answer.path.c_str());
  std::remove(answer.path.c_str());
}

// --- The About box -------------------------------------------------------------------------

struct AboutSeen {
  HWND main = nullptr;
  int opened = 0;
  std::string caption;
  std::vector<std::string> texts;
  bool defaultOk = false;
  bool ownedByMain = false;
};

void AnswerAbout(void* context, int) {
  auto* seen = static_cast<AboutSeen*>(context);
  HWND about = win32test::FindThreadWindow("Acerca de");
  if (about == nullptr)
    return;
  ++seen->opened;
  seen->caption = Text(about);
  seen->ownedByMain = GetWindow(about, GW_OWNER) == seen->main;
  seen->texts.clear();
  for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    seen->texts.push_back(Text(child));
  }
  HWND ok = GetDlgItem(about, IDOK);
  seen->defaultOk =
      ok != nullptr && (GetWindowLongA(ok, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  SendMessageA(about, WM_COMMAND, IDOK, 0);
}

TEST_F(Win32Window, AcercaDeInTheSystemMenuOpensTheAboutBox) {
  AboutSeen seen;
  seen.main = hwnd;
  {
    ThreadTimer timer(50, &AnswerAbout, &seen);
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  }
  EXPECT_EQ(seen.opened, 1);
  EXPECT_EQ(seen.caption, "Acerca de");
  EXPECT_TRUE(seen.ownedByMain);
  EXPECT_TRUE(seen.defaultOk);
  ASSERT_EQ(seen.texts.size(), 4u);
  EXPECT_NE(seen.texts[1].find("Actualizador"), std::string::npos);
  EXPECT_EQ(seen.texts[3], "Aceptar");

  // The low four bits of the command are the system's own; they do not change the command.
  {
    ThreadTimer timer(50, &AnswerAbout, &seen);
    SendMessageA(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX | 0x000F, 0);
  }
  EXPECT_EQ(seen.opened, 2);
  EXPECT_TRUE(IsWindow(hwnd));
}

// --- Ending the program --------------------------------------------------------------------

struct Ending {
  CUpdaterDlg* dlg;
  bool byKey;
};

TEST(Win32ModalWindow, EscapeAndTheCloseBoxEndTheModalLoop) {
  for (const bool byKey : {true, false}) {
    updater::Win32PortDriver driver;
    updater::SystemClock clock;
    AnsweringChooser chooser;
    CUpdaterDlg dlg(driver, clock, chooser);
    Ending ending{&dlg, byKey};
    ThreadTimer timer(
        100,
        [](void* context, int tick) {
          auto* e = static_cast<Ending*>(context);
          HWND hwnd = e->dlg->GetSafeHwnd();
          if (hwnd == nullptr)
            return;
          if (tick > 50) {  // never leave the test hanging
            EndDialog(hwnd, 99);
          } else if (e->byKey) {
            // What the keyboard delivers to the focused control; the dialog manager turns it
            // into Cancel.
            PostMessageA(GetDlgItem(hwnd, IDC_OPEN), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
          } else {
            PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          }
        },
        &ending);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL) << (byKey ? "Escape" : "close box");
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
  }
}

// --- Programming runs on COM3 --------------------------------------------------------------

class Win32WindowOnCom3 : public win32test::Com3Test {
 protected:
  Win32WindowOnCom3() : Com3Test("keep-serving"), dlg(driver, clock, chooser) {}
  void SetUp() override {
    Com3Test::SetUp();
    if (IsSkipped())
      return;
    hwnd = dlg.Create();
    ASSERT_NE(hwnd, nullptr);
    chooser.answer = WriteImage("com3_window_300.QMZ", 300);
    Click(hwnd, IDC_OPEN);
    ASSERT_EQ(ItemText(hwnd, IDC_SIZE), "300");
  }
  void TearDown() override { std::remove(chooser.answer.c_str()); }

  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  AnsweringChooser chooser;
  CUpdaterDlg dlg;
  HWND hwnd = nullptr;
};

struct RunWatch {
  HWND hwnd = nullptr;
  CUpdaterDlg* dlg = nullptr;
  int ticksDuringRun = 0;
  bool invalidated = false;
  int invalidatedAt = 0;
  bool repainted = false;
  std::vector<std::string> sent;
};

TEST_F(Win32WindowOnCom3, ProgramarDownloadsTheImageWhileTheWindowKeepsPainting) {
  RunWatch watch;
  watch.hwnd = hwnd;
  watch.dlg = &dlg;
  {
    ThreadTimer timer(
        50,
        [](void* context, int tick) {
          auto* w = static_cast<RunWatch*>(context);
          if (!w->dlg->IsRunning())
            return;
          ++w->ticksDuringRun;
          const std::string sent = ItemText(w->hwnd, IDC_SENT);
          if (w->sent.empty() || w->sent.back() != sent)
            w->sent.push_back(sent);
          if (!w->invalidated) {
            InvalidateRect(w->hwnd, nullptr, TRUE);
            w->invalidated = true;
            w->invalidatedAt = tick;
          } else if (!w->repainted && tick >= w->invalidatedAt + 3) {
            w->repainted = !GetUpdateRect(w->hwnd, nullptr, FALSE);
          }
        },
        &watch);
    Click(hwnd, IDC_PROGRAM);
  }
  EXPECT_FALSE(dlg.IsRunning());
  EXPECT_EQ(ItemText(hwnd, IDC_SENT), "300");
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Descarga correcta\n");
  EXPECT_EQ(ProgressPos(hwnd), 300);
  const std::string log = ItemText(hwnd, IDC_LOG);
  EXPECT_NE(log.find("COM3 abierto\n\r\n"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 20), "Descarga correcta\n\r\n");

  // The run lasts over a second (its fixed pauses alone do); timers and painting were served
  // all along, and the sent count was cleared at the start.
  EXPECT_GE(watch.ticksDuringRun, 10);
  EXPECT_TRUE(watch.repainted);
  ASSERT_FALSE(watch.sent.empty());
  EXPECT_EQ(watch.sent.front(), "");
}

struct Intruder {
  HWND hwnd = nullptr;
  CUpdaterDlg* dlg = nullptr;
  AnsweringChooser* chooser = nullptr;
  bool done = false;
  int chooserCallsDuringRun = 0;
  bool stillRunning = false;
  bool aboutOpened = false;
};

BOOL CALLBACK AnyAbout(HWND window, LPARAM found) {
  if (Text(window) == "Acerca de") {
    *reinterpret_cast<bool*>(found) = true;
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

TEST_F(Win32WindowOnCom3, InputAndCloseRequestsDuringARunAreDroppedNotReplayed) {
  const int chooserCalls = chooser.calls;
  Intruder in;
  in.hwnd = hwnd;
  in.dlg = &dlg;
  in.chooser = &chooser;
  {
    ThreadTimer timer(
        200,
        [](void* context, int) {
          auto* i = static_cast<Intruder*>(context);
          if (i->done || !i->dlg->IsRunning())
            return;
          i->done = true;
          HWND program = GetDlgItem(i->hwnd, IDC_PROGRAM);
          HWND open = GetDlgItem(i->hwnd, IDC_OPEN);
          const int calls = i->chooser->calls;
          // Sent: handled at once, and refused.
          SendMessageA(program, BM_CLICK, 0, 0);
          SendMessageA(open, BM_CLICK, 0, 0);
          SendMessageA(i->hwnd, WM_COMMAND, IDCANCEL, 0);
          SendMessageA(i->hwnd, WM_CLOSE, 0, 0);
          SendMessageA(i->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          SendMessageA(i->hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
          // Posted: what the mouse, the keyboard and the window system deliver.
          const LPARAM inside = MAKELPARAM(5, 5);
          PostMessageA(program, WM_LBUTTONDOWN, MK_LBUTTON, inside);
          PostMessageA(program, WM_LBUTTONUP, 0, inside);
          PostMessageA(open, WM_KEYDOWN, VK_SPACE, 0x00390001);
          PostMessageA(open, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001u));
          PostMessageA(open, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
          PostMessageA(i->hwnd, WM_NCLBUTTONDOWN, HTCLOSE, 0);
          PostMessageA(i->hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
          PostMessageA(i->hwnd, WM_CLOSE, 0, 0);
          i->chooserCallsDuringRun = i->chooser->calls - calls;
          i->stillRunning = i->dlg->IsRunning() && IsWindow(i->hwnd);
        },
        &in);
    Click(hwnd, IDC_PROGRAM);
  }
  EXPECT_TRUE(in.done);
  EXPECT_TRUE(in.stillRunning);
  EXPECT_EQ(in.chooserCallsDuringRun, 0);
  ASSERT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(InputPending());
  EXPECT_EQ(ItemText(hwnd, IDC_SENT), "300");
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Descarga correcta\n");

  // Nothing of it comes back once the window's own loop runs again: no second run, no file
  // dialog, no closing, no About box.
  {
    ThreadTimer closer(
        50,
        [](void* context, int) {
          bool* about = static_cast<bool*>(context);
          EnumThreadWindows(GetCurrentThreadId(), &AnyAbout, reinterpret_cast<LPARAM>(about));
        },
        &in.aboutOpened);
    PumpFor(hwnd, 1500);
  }
  ASSERT_TRUE(IsWindow(hwnd));
  EXPECT_FALSE(in.aboutOpened);
  EXPECT_EQ(chooser.calls, chooserCalls);
  const std::string log = ItemText(hwnd, IDC_LOG);
  EXPECT_EQ(Count(log, "Probando COM1"), 1) << log;
  EXPECT_EQ(Count(log, "Descarga correcta"), 1) << log;
  EXPECT_EQ(ItemText(hwnd, IDC_INFO), "Descarga correcta\n");
}

}  // namespace
