#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace updater {

// The window styles the dialog templates use, with the values the Windows headers give them
// (the Win32 resource test holds the two equal), so that the table needs no system header.
namespace dialog_style {
inline constexpr std::uint32_t kPopup = 0x80000000u;       // WS_POPUP
inline constexpr std::uint32_t kChild = 0x40000000u;       // WS_CHILD
inline constexpr std::uint32_t kVisible = 0x10000000u;     // WS_VISIBLE
inline constexpr std::uint32_t kCaption = 0x00C00000u;     // WS_CAPTION
inline constexpr std::uint32_t kBorder = 0x00800000u;      // WS_BORDER
inline constexpr std::uint32_t kSysMenu = 0x00080000u;     // WS_SYSMENU
inline constexpr std::uint32_t kThickFrame = 0x00040000u;  // WS_THICKFRAME
inline constexpr std::uint32_t kGroup = 0x00020000u;       // WS_GROUP
inline constexpr std::uint32_t kTabStop = 0x00010000u;     // WS_TABSTOP
inline constexpr std::uint32_t kAppWindow = 0x00040000u;   // WS_EX_APPWINDOW (extended)
inline constexpr std::uint32_t kCenter = 0x0800u;          // DS_CENTER
inline constexpr std::uint32_t kModalFrame = 0x0080u;      // DS_MODALFRAME
inline constexpr std::uint32_t kSetFont = 0x0040u;         // DS_SETFONT
inline constexpr std::uint32_t k3dLook = 0x0004u;          // DS_3DLOOK
inline constexpr std::uint32_t kPushButton = 0x0000u;      // BS_PUSHBUTTON
inline constexpr std::uint32_t kDefPushButton = 0x0001u;   // BS_DEFPUSHBUTTON
inline constexpr std::uint32_t kButtonTypeMask = 0x000Fu;  // BS_TYPEMASK
inline constexpr std::uint32_t kEditLeft = 0x0000u;        // ES_LEFT
inline constexpr std::uint32_t kMultiLine = 0x0004u;       // ES_MULTILINE
inline constexpr std::uint32_t kReadOnly = 0x0800u;        // ES_READONLY
inline constexpr std::uint32_t kStaticLeft = 0x0000u;      // SS_LEFT
inline constexpr std::uint32_t kIcon = 0x0003u;            // SS_ICON
inline constexpr std::uint32_t kNoPrefix = 0x0080u;        // SS_NOPREFIX
inline constexpr std::uint32_t kSmooth = 0x0001u;          // PBS_SMOOTH
}  // namespace dialog_style

// The window class of a control: the dialog manager's own classes and the progress bar of the
// common controls.
enum class ControlClass { kButton, kEdit, kStatic, kProgress };

// The identifiers the Windows headers give a static control and the OK button.
inline constexpr int kStaticId = -1;  // IDC_STATIC
inline constexpr int kOkId = 1;       // IDOK

// One control of a dialog template, as the resource compiler stores it.
struct ControlTemplate {
  int id;
  const char* name;  // the identifier's name; what the Qt window names the widget
  ControlClass windowClass;
  const char* text;  // Windows-1252
  int iconId;        // a static that shows this icon resource instead of a text; 0 for none
  int x, y, cx, cy;  // dialog units
  std::uint32_t style;
  std::uint32_t exStyle;
};

struct DialogTemplate {
  int id;
  const char* name;
  const char* caption;  // Windows-1252
  const char* typeface;
  int pointSize;
  int weight;
  int italic;
  int charset;
  int x, y, cx, cy;  // dialog units
  std::uint32_t style;
  std::uint32_t exStyle;
  std::span<const ControlTemplate> controls;  // in tab order
};

struct PixelRect {
  int x, y, cx, cy;
};

struct ControlMove {
  int id;
  PixelRect to;  // in the window's client area
};

// What the main window does to its template as it opens, in this order: hides the views, moves
// the controls, moves the window (its outer rectangle, on the screen), shows `shown` and sets the
// application's title.
struct OpeningMoves {
  std::span<const int> hidden;
  std::span<const ControlMove> moved;
  PixelRect window;
  int shown;
};

// IDD_UPDATER_DIALOG, the main window. res/actualizador.rc says the same for Windows; a unit test
// holds the two equal.
extern const DialogTemplate kMainDialog;
// IDD_ABOUTBOX.
extern const DialogTemplate kAboutBox;
extern const OpeningMoves kMainDialogOpening;
// IDS_ABOUTBOX: the window menu's entry that opens the About box (Windows-1252).
extern const char* const kAboutMenuText;

// What a control of these templates shows, in the chosen language: its text localized, and the
// About box's product line (UPDATER_ABOUT_PRODUCT_LINE in Spanish) with its word translated.
std::string ShownText(const ControlTemplate& control);

// Whether a control shows its text as a caption (a progress bar's and an icon's show none).
bool ShowsCaption(const ControlTemplate& control);

}  // namespace updater
