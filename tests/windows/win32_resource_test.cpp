// The resources compiled into the program: the two dialog templates read back from the module
// as the dialog manager reads them, the system-menu string, the icon and the version; the
// templates against the table the Qt window builds from (model/dialog_template.h) too.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "model/app_info.h"
#include "model/dialog_template.h"
#include "ui/win32/resource.h"

#include <commctrl.h>

namespace {

#ifndef IDC_STATIC
constexpr int IDC_STATIC = -1;
#endif

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

struct Item {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  WORD classAtom = 0;  // 0 when the class is named
  std::wstring className;
  std::wstring text;
  WORD textOrdinal = 0;  // a resource ordinal instead of a text (an icon)
};

struct Template {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::wstring caption;
  WORD pointSize = 0;
  WORD weight = 0;
  BYTE italic = 0;
  BYTE charset = 0;
  std::wstring typeface;
  std::vector<Item> items;
};

// Reads the extended template layout (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX entries) within
// the resource's bounds; false when it is not that layout or runs past its end.
class TemplateReader {
 public:
  TemplateReader(const BYTE* data, std::size_t size) : data_(data), size_(size) {}

  bool Read(Template& t) {
    WORD version = 0, signature = 0, count = 0, menu = 0, windowClass = 0;
    DWORD helpId = 0;
    if (!Get(version) || !Get(signature) || version != 1 || signature != 0xFFFF)
      return false;
    if (!Get(helpId) || !Get(t.exStyle) || !Get(t.style) || !Get(count) || !Get(t.x) || !Get(t.y) ||
        !Get(t.cx) || !Get(t.cy)) {
      return false;
    }
    std::wstring ignored;
    if (!SzOrOrd(menu, ignored) || !SzOrOrd(windowClass, ignored) || !Sz(t.caption))
      return false;
    if ((t.style & DS_SETFONT) != 0) {
      if (!Get(t.pointSize) || !Get(t.weight) || !Get(t.italic) || !Get(t.charset) ||
          !Sz(t.typeface)) {
        return false;
      }
    }
    for (WORD i = 0; i < count; ++i) {
      Item item;
      DWORD id = 0;
      WORD extra = 0;
      pos_ = (pos_ + 3) & ~std::size_t{3};
      if (!Get(helpId) || !Get(item.exStyle) || !Get(item.style) || !Get(item.x) || !Get(item.y) ||
          !Get(item.cx) || !Get(item.cy) || !Get(id) || !SzOrOrd(item.classAtom, item.className) ||
          !SzOrOrd(item.textOrdinal, item.text) || !Get(extra)) {
        return false;
      }
      item.id = static_cast<int>(id);
      pos_ += extra;
      t.items.push_back(item);
    }
    return pos_ <= size_;
  }

 private:
  template <typename T>
  bool Get(T& value) {
    if (size_ - pos_ < sizeof value || pos_ > size_)
      return false;
    std::memcpy(&value, data_ + pos_, sizeof value);
    pos_ += sizeof value;
    return true;
  }
  bool Sz(std::wstring& text) {
    text.clear();
    for (WORD c = 0;;) {
      if (!Get(c))
        return false;
      if (c == 0)
        return true;
      text.push_back(static_cast<wchar_t>(c));
    }
  }
  bool SzOrOrd(WORD& ordinal, std::wstring& text) {
    ordinal = 0;
    text.clear();
    WORD first = 0;
    if (!Get(first))
      return false;
    if (first == 0)
      return true;
    if (first == 0xFFFF)
      return Get(ordinal);
    text.push_back(static_cast<wchar_t>(first));
    std::wstring rest;
    if (!Sz(rest))
      return false;
    text += rest;
    return true;
  }

  const BYTE* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

Template LoadTemplate(int id) {
  Template t;
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  if (found == nullptr) {
    ADD_FAILURE() << "no dialog template " << id;
    return t;
  }
  HGLOBAL loaded = LoadResource(module, found);
  const auto* data = static_cast<const BYTE*>(LockResource(loaded));
  TemplateReader reader(data, SizeofResource(module, found));
  EXPECT_TRUE(reader.Read(t)) << "template " << id << " is not an extended template";
  return t;
}

void ExpectPlaced(const Item& item, short x, short y, short cx, short cy) {
  EXPECT_EQ(item.x, x) << "id " << item.id;
  EXPECT_EQ(item.y, y) << "id " << item.id;
  EXPECT_EQ(item.cx, cx) << "id " << item.id;
  EXPECT_EQ(item.cy, cy) << "id " << item.id;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// The table's styles are the system headers' values.
namespace style = updater::dialog_style;
static_assert(style::kPopup == WS_POPUP && style::kChild == WS_CHILD &&
              style::kVisible == WS_VISIBLE && style::kCaption == WS_CAPTION &&
              style::kBorder == WS_BORDER && style::kSysMenu == WS_SYSMENU &&
              style::kThickFrame == WS_THICKFRAME && style::kGroup == WS_GROUP &&
              style::kTabStop == WS_TABSTOP && style::kAppWindow == WS_EX_APPWINDOW);
static_assert(style::kCenter == DS_CENTER && style::kModalFrame == DS_MODALFRAME &&
              style::kSetFont == DS_SETFONT && style::k3dLook == DS_3DLOOK);
static_assert(style::kPushButton == BS_PUSHBUTTON && style::kDefPushButton == BS_DEFPUSHBUTTON &&
              style::kButtonTypeMask == BS_TYPEMASK && style::kEditLeft == ES_LEFT &&
              style::kMultiLine == ES_MULTILINE && style::kReadOnly == ES_READONLY &&
              style::kStaticLeft == SS_LEFT && style::kIcon == SS_ICON &&
              style::kNoPrefix == SS_NOPREFIX && style::kSmooth == PBS_SMOOTH);
static_assert(updater::kStaticId == IDC_STATIC && updater::kOkId == IDOK);

std::wstring FromCp1252(const char* text) {
  wchar_t wide[256] = {};
  MultiByteToWideChar(1252, 0, text, -1, wide, 256);
  return wide;
}

// Every field the dialog manager reads, against the table.
void ExpectTable(const Template& t, const updater::DialogTemplate& table) {
  SCOPED_TRACE(table.name);
  EXPECT_EQ(t.style, table.style);
  EXPECT_EQ(t.exStyle, table.exStyle);
  EXPECT_EQ(std::vector<int>({t.x, t.y, t.cx, t.cy}),
            std::vector<int>({table.x, table.y, table.cx, table.cy}));
  EXPECT_EQ(t.caption, FromCp1252(table.caption));
  EXPECT_EQ(t.typeface, FromCp1252(table.typeface));
  EXPECT_EQ(t.pointSize, table.pointSize);
  EXPECT_EQ(t.weight, table.weight);
  EXPECT_EQ(t.italic, table.italic);
  EXPECT_EQ(t.charset, table.charset);
  ASSERT_EQ(t.items.size(), table.controls.size());
  for (std::size_t i = 0; i < t.items.size(); ++i) {
    const Item& item = t.items[i];
    const updater::ControlTemplate& want = table.controls[i];
    SCOPED_TRACE(testing::Message() << "control " << i << " " << want.name);
    EXPECT_EQ(item.id, want.id);
    switch (want.windowClass) {
      case updater::ControlClass::kButton:
        EXPECT_EQ(item.classAtom, kButtonClass);
        break;
      case updater::ControlClass::kEdit:
        EXPECT_EQ(item.classAtom, kEditClass);
        break;
      case updater::ControlClass::kStatic:
        EXPECT_EQ(item.classAtom, kStaticClass);
        break;
      case updater::ControlClass::kProgress:
        EXPECT_EQ(_wcsicmp(item.className.c_str(), PROGRESS_CLASSW), 0);
        break;
    }
    EXPECT_EQ(item.text, FromCp1252(want.text));
    EXPECT_EQ(item.textOrdinal, want.iconId);
    EXPECT_EQ(std::vector<int>({item.x, item.y, item.cx, item.cy}),
              std::vector<int>({want.x, want.y, want.cx, want.cy}));
    EXPECT_EQ(item.style, want.style);
    EXPECT_EQ(item.exStyle, want.exStyle);
  }
}

TEST(DialogTable, CompiledTemplatesAndStringAreTheTable) {
  ExpectTable(LoadTemplate(IDD_UPDATER_DIALOG), updater::kMainDialog);
  ExpectTable(LoadTemplate(IDD_ABOUTBOX), updater::kAboutBox);
  char text[64] = {};
  ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text), 0);
  EXPECT_STREQ(text, updater::kAboutMenuText);
}

TEST(MainDialogTemplate, FrameCaptionAndFont) {
  const Template t = LoadTemplate(IDD_UPDATER_DIALOG);
  EXPECT_EQ(t.style, static_cast<DWORD>(DS_SETFONT | DS_3DLOOK | WS_POPUP | WS_VISIBLE |
                                        WS_CAPTION | WS_SYSMENU | WS_THICKFRAME));
  EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(t.cx, 472);
  EXPECT_EQ(t.cy, 154);
  EXPECT_EQ(t.caption, L"Actualizador 47.913 v1");
  EXPECT_EQ(t.typeface, L"Arial");
  EXPECT_EQ(t.pointSize, 11);
  EXPECT_EQ(t.weight, FW_NORMAL);
  EXPECT_EQ(t.italic, 0);
  EXPECT_EQ(t.charset, DEFAULT_CHARSET);
}

TEST(MainDialogTemplate, ControlsInTabOrderWithTextsPositionsAndStyles) {
  const Template t = LoadTemplate(IDD_UPDATER_DIALOG);
  ASSERT_EQ(t.items.size(), 12u);
  const std::vector<int> ids = {IDC_OPEN,    IDC_STATIC,      IDC_SIZE,     IDC_STATIC,
                                IDC_SENT,    IDC_PROGRAM,     IDC_PROGRESS, IDC_FILE_VIEW,
                                IDC_RX_VIEW, IDC_STATE_LABEL, IDC_INFO,     IDC_LOG};
  for (std::size_t i = 0; i < ids.size(); ++i)
    EXPECT_EQ(t.items[i].id, ids[i]) << "control " << i;

  const Item& open = t.items[0];
  EXPECT_EQ(open.classAtom, kButtonClass);
  EXPECT_EQ(open.text, L"Abrir archivo");
  ExpectPlaced(open, 20, 13, 52, 17);
  EXPECT_EQ(open.style, kChild | WS_TABSTOP | BS_PUSHBUTTON);

  const Item& sizeLabel = t.items[1];
  EXPECT_EQ(sizeLabel.classAtom, kStaticClass);
  EXPECT_EQ(sizeLabel.text, L"Tama\u00F1o");
  ExpectPlaced(sizeLabel, 136, 16, 32, 8);

  const Item& sentLabel = t.items[3];
  EXPECT_EQ(sentLabel.text, L"Enviado");
  ExpectPlaced(sentLabel, 219, 16, 32, 8);

  for (const Item* field : {&t.items[2], &t.items[4]}) {
    EXPECT_EQ(field->classAtom, kEditClass);
    EXPECT_EQ(field->text, L"");
    EXPECT_EQ(field->style, kChild | WS_BORDER | ES_LEFT | ES_READONLY) << "id " << field->id;
  }
  ExpectPlaced(t.items[2], 168, 14, 38, 14);
  ExpectPlaced(t.items[4], 250, 14, 38, 14);

  const Item& program = t.items[5];
  EXPECT_EQ(program.classAtom, kButtonClass);
  EXPECT_EQ(program.text, L"Programar");
  ExpectPlaced(program, 76, 13, 52, 17);
  EXPECT_EQ(program.style, kChild | BS_PUSHBUTTON);

  const Item& progress = t.items[6];
  EXPECT_EQ(progress.classAtom, 0);
  // Class names are matched without case; the resource compiler keeps them in capitals.
  EXPECT_EQ(_wcsicmp(progress.className.c_str(), L"msctls_progress32"), 0);
  EXPECT_EQ(progress.text, L"Progress1");
  ExpectPlaced(progress, 20, 127, 280, 9);
  EXPECT_EQ(progress.style, kChild | PBS_SMOOTH);

  const Item* views[] = {&t.items[7], &t.items[8], &t.items[11]};
  const short viewX[] = {20, 170, 320};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(views[i]->classAtom, kEditClass);
    EXPECT_EQ(views[i]->style, kChild | WS_BORDER | ES_LEFT | ES_MULTILINE | ES_READONLY)
        << "id " << views[i]->id;
    ExpectPlaced(*views[i], viewX[i], 38, 145, 60);
  }

  const Item& stateLabel = t.items[9];
  EXPECT_EQ(stateLabel.classAtom, kStaticClass);
  EXPECT_EQ(stateLabel.text, L"Estado");
  ExpectPlaced(stateLabel, 20, 115, 25, 8);
  const Item& info = t.items[10];
  EXPECT_EQ(info.text, L"Info");
  ExpectPlaced(info, 49, 115, 187, 8);

  // Only "Abrir archivo" takes the focus by Tab.
  for (const Item& item : t.items) {
    if (item.id != IDC_OPEN) {
      EXPECT_EQ(item.style & WS_TABSTOP, 0u) << "id " << item.id;
    }
  }
}

TEST(AboutBoxTemplate, FrameAndContents) {
  const Template t = LoadTemplate(IDD_ABOUTBOX);
  EXPECT_EQ(t.style, static_cast<DWORD>(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP |
                                        WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(t.caption, L"Acerca de");
  EXPECT_EQ(t.cx, 220);
  EXPECT_EQ(t.cy, 50);
  EXPECT_EQ(t.typeface, L"Arial");
  EXPECT_EQ(t.pointSize, 11);
  ASSERT_EQ(t.items.size(), 4u);

  const Item& icon = t.items[0];
  EXPECT_EQ(icon.classAtom, kStaticClass);
  EXPECT_EQ(icon.style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
  EXPECT_EQ(icon.textOrdinal, IDR_MAINFRAME);
  EXPECT_EQ(icon.x, 11);
  EXPECT_EQ(icon.y, 10);

  const Item& product = t.items[1];
  ExpectPlaced(product, 40, 10, 119, 8);
  EXPECT_NE(product.style & SS_NOPREFIX, 0u);
  EXPECT_NE(product.text.find(L"Actualizador"), std::wstring::npos);
  const Item& year = t.items[2];
  ExpectPlaced(year, 40, 22, 73, 8);
  EXPECT_NE(year.text.find(L"20"), std::wstring::npos);

  const Item& ok = t.items[3];
  EXPECT_EQ(ok.id, IDOK);
  EXPECT_EQ(ok.text, L"Aceptar");
  ExpectPlaced(ok, 150, 7, 50, 14);
  EXPECT_EQ(ok.style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
}

TEST(ProgramResources, AboutStringIconAndVersion) {
  HMODULE module = GetModuleHandleA(nullptr);
  char text[64] = {};
  ASSERT_GT(LoadStringA(module, IDS_ABOUTBOX, text, sizeof text), 0);
  EXPECT_STREQ(text, "Acerca de...");

  // The icon group holds a 32 x 32 and a 16 x 16 image.
  for (const int size : {32, 16}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap = {};
    GetObjectA(info.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr)
      DeleteObject(info.hbmColor);
    DestroyIcon(icon);
  }

  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(module, path, sizeof path), 0u);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> version(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, version.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(version.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  // The strings configured from the top CMakeLists.txt.
  for (const auto& [name, value] : {std::pair{"ProductName", updater::kApplicationTitle},
                                    std::pair{"FileVersion", updater::kApplicationVersion},
                                    std::pair{"ProductVersion", updater::kApplicationVersion}}) {
    const std::string key = std::string("\\StringFileInfo\\0c0a04e4\\") + name;
    char* found = nullptr;
    ASSERT_TRUE(
        VerQueryValueA(version.data(), key.c_str(), reinterpret_cast<void**>(&found), &length))
        << name;
    EXPECT_STREQ(found, value) << name;
  }

  // The manifest that selects common controls 6.
  HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const auto* xml = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
  const std::string text6(xml, SizeofResource(module, manifest));
  EXPECT_NE(text6.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(text6.find("6.0.0.0"), std::string::npos);
  EXPECT_NE(text6.find(std::string("version=\"") + updater::kApplicationVersion + "\""),
            std::string::npos);
  EXPECT_NE(text6.find(std::string("<description>") + updater::kApplicationTitle + "<"),
            std::string::npos);
}

}  // namespace
