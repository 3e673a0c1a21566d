// The native window under Wine with an English interface language (scripts/test-windows runs it
// with LANG=en_US.UTF-8 in a Wine prefix of its own, COM3 served by the simulator): its texts,
// system menu, About box and a run's status lines are English, and each fits its control in the
// dialog's font, the controls keeping the size the Spanish texts gave them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/system/signed_image_gate.h"
#include "model/app_info.h"
#include "model/dialog_template.h"
#include "model/localized.h"
#include "serial/clock.h"
#include "serial/win32_port_driver.h"
#include "support/temp_dir.h"
#include "ui/win32/resource.h"
#include "ui/win32/updater_dlg.h"
#include "windows/com3_device.h"
#include "windows/window_support.h"

namespace {

using win32test::Text;

// The pixels a push button keeps clear a side: Wine draws its label two inside the edge, a
// default button's one further in, and shifts it one while pushed.
constexpr int kButtonInset = 4;

// The width of `text`'s first line (a status line ends in a line break) in the control's font.
int TextWidth(HWND control, const std::string& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  const std::string line = text.substr(0, text.find('\n'));
  SIZE size = {};
  GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

int TextRoom(HWND control) {
  RECT client;
  GetClientRect(control, &client);
  char className[16] = {};
  GetClassNameA(control, className, sizeof className);
  const bool button = _stricmp(className, "Button") == 0;
  return client.right - client.left - (button ? 2 * kButtonInset : 0);
}

// Each captioned child of `dialog` shows its text whole, next to what the Spanish text took and
// what the template's width comes to through the dialog's base units; each figure is printed.
void ExpectTextsFit(HWND dialog, const updater::DialogTemplate& dialogTemplate) {
  HWND child = GetWindow(dialog, GW_CHILD);
  for (const updater::ControlTemplate& control : dialogTemplate.controls) {
    ASSERT_NE(child, nullptr);
    const std::string text = Text(child);
    if (updater::ShowsCaption(control)) {
      RECT templateRect = {0, 0, control.cx, control.cy};
      MapDialogRect(dialog, &templateRect);
      const int width = TextWidth(child, text), room = TextRoom(child);
      std::printf("%s \"%s\": %d px in %d px (Spanish %d px; template %d px wide)\n", control.name,
                  text.c_str(), width, room, TextWidth(child, control.text),
                  static_cast<int>(templateRect.right));
      EXPECT_LE(width, room) << text;
    }
    child = GetWindow(child, GW_HWNDNEXT);
  }
}

class Win32EnglishWindow : public ::testing::Test {
 protected:
  Win32EnglishWindow() : dlg(driver, clock, chooser) {}
  void SetUp() override {
    updater::UseSystemLanguage();
    ASSERT_FALSE(updater::InSpanish()) << "needs an English interface language (LANG=en_US.UTF-8)";
    hwnd = dlg.Create();
    ASSERT_NE(hwnd, nullptr);
  }

  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  win32test::AnsweringChooser chooser;
  CUpdaterDlg dlg;
  HWND hwnd = nullptr;
};

TEST_F(Win32EnglishWindow, TextsAndSystemMenuAreEnglishAndFit) {
  std::vector<std::string> texts;
  for (HWND child = GetWindow(hwnd, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    texts.push_back(Text(child));
  }
  const std::vector<std::string> expected = {"Open file", "Size", "0", "Sent",   "0",    "Program",
                                             "Progress1", "",     "",  "Status", "Info", ""};
  EXPECT_EQ(texts, expected);
  ExpectTextsFit(hwnd, updater::kMainDialog);

  HMENU menu = GetSystemMenu(hwnd, FALSE);
  char about[64] = {};
  GetMenuStringA(menu, IDM_ABOUTBOX, about, sizeof about, MF_BYCOMMAND);
  EXPECT_STREQ(about, "About...");
}

// A box of this thread with this caption, answered OK from a timer once it shows: its children's
// texts, and whether they fit where the box is one of the templates'.
struct BoxSeen {
  std::string caption;
  const updater::DialogTemplate* fromTemplate = nullptr;
  int opened = 0;
  std::vector<std::string> texts;
};

void AnswerBox(void* context, int) {
  auto* seen = static_cast<BoxSeen*>(context);
  HWND box = win32test::FindThreadWindow(seen->caption);
  if (box == nullptr)
    return;
  ++seen->opened;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    seen->texts.push_back(Text(child));
  }
  if (seen->fromTemplate != nullptr)
    ExpectTextsFit(box, *seen->fromTemplate);
  SendMessageA(box, WM_COMMAND, IDOK, 0);
}

// Sends `message` to the window and answers the box it opens.
BoxSeen Answered(HWND hwnd, UINT message, WPARAM wParam, const char* caption,
                 const updater::DialogTemplate* fromTemplate) {
  BoxSeen seen;
  seen.caption = caption;
  seen.fromTemplate = fromTemplate;
  {
    win32test::ThreadTimer timer(50, &AnswerBox, &seen);
    SendMessageA(hwnd, message, wParam, 0);
  }
  return seen;
}

bool Contains(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& text : texts) {
    if (text.find(part) != std::string::npos)
      return true;
  }
  return false;
}

TEST_F(Win32EnglishWindow, TheAboutBoxIsEnglishAndFits) {
  const BoxSeen seen = Answered(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, "About", &updater::kAboutBox);
  EXPECT_EQ(seen.opened, 1);
  // The icon control's first: it has no text.
  const std::vector<std::string> expected = {"Actualizador 47913 Version 1.0", "Copyright (C) 2026",
                                             "OK"};
  ASSERT_EQ(seen.texts.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(seen.texts.begin() + 1, seen.texts.end()), expected);
}

TEST_F(Win32EnglishWindow, AnImageRefusedForItsSignatureIsSaidInEnglish) {
  const std::string keys = support::ProcessTempDir().File("english_keys");
  CreateDirectoryA(keys.c_str(), nullptr);
  std::ofstream(keys + "\\maker.pub") << "untrusted comment: minisign public key\n";
  updater::SignedImageGate gate(keys);
  dlg.core().SetImageGate(&gate);
  chooser.answer = support::WriteImage(support::ProcessTempDir().File("english_unsigned.QMZ"),
                                       std::vector<std::uint8_t>(300, 'A'));
  const BoxSeen seen =
      Answered(GetDlgItem(hwnd, IDC_OPEN), BM_CLICK, 0, updater::kApplicationName, nullptr);
  EXPECT_EQ(seen.opened, 1);
  EXPECT_TRUE(Contains(seen.texts, "Image refused: keys are installed in")) << seen.texts[0];
  EXPECT_TRUE(Contains(seen.texts, "OK"));
  std::remove(chooser.answer.c_str());
}

class Win32EnglishWindowOnCom3 : public win32test::Com3Test {
 protected:
  Win32EnglishWindowOnCom3() : Com3Test("keep-serving"), dlg(driver, clock, chooser) {}

  updater::Win32PortDriver driver;
  updater::SystemClock clock;
  win32test::AnsweringChooser chooser;
  CUpdaterDlg dlg;
};

TEST_F(Win32EnglishWindowOnCom3, ARunsStatusLinesAreEnglishAndFitTheStatusLine) {
  updater::UseSystemLanguage();
  HWND hwnd = dlg.Create();
  ASSERT_NE(hwnd, nullptr);
  chooser.answer = support::WriteImage(support::ProcessTempDir().File("english_300.QMZ"),
                                       std::vector<std::uint8_t>(300, 'A'));
  SendMessageA(GetDlgItem(hwnd, IDC_OPEN), BM_CLICK, 0, 0);
  SendMessageA(GetDlgItem(hwnd, IDC_PROGRAM), BM_CLICK, 0, 0);
  HWND info = GetDlgItem(hwnd, IDC_INFO);
  EXPECT_EQ(Text(info), "Download complete\n");
  const std::string log = Text(GetDlgItem(hwnd, IDC_LOG));
  EXPECT_NE(log.find("Download started\n\r\n"), std::string::npos) << log;
  int widest = 0;
  for (std::size_t begin = 0, end; (end = log.find("\r\n", begin)) != std::string::npos;
       begin = end + 2) {
    const std::string line = log.substr(begin, end - begin);
    const int width = TextWidth(info, line);
    widest = width > widest ? width : widest;
    EXPECT_LE(width, TextRoom(info)) << line;
  }
  std::printf("IDC_INFO: the widest status line %d px in %d px\n", widest, TextRoom(info));
  std::remove(chooser.answer.c_str());
}

}  // namespace
