#include "model/dialog_template.h"

#include <cstdio>
#include <cstring>

#include "model/localized.h"
#include "model/product_info.h"
#include "model/resource.h"

namespace updater {

namespace {

using namespace dialog_style;

constexpr std::uint32_t kControl = kChild | kVisible;
constexpr std::uint32_t kField = kControl | kBorder | kEditLeft | kReadOnly;
constexpr std::uint32_t kView = kField | kMultiLine;
constexpr std::uint32_t kLabel = kControl | kStaticLeft | kGroup;
constexpr auto kButton = ControlClass::kButton;
constexpr auto kEdit = ControlClass::kEdit;
constexpr auto kStatic = ControlClass::kStatic;

// Only "Abrir archivo" is a tab stop. The texts are the Spanish ones of the resource script;
// ShownText gives them in the chosen language.
constexpr ControlTemplate kMainControls[] = {
    {IDC_OPEN, "IDC_OPEN", kButton, Translatable("Abrir archivo"), 0, 20, 13, 52, 17,
     kControl | kTabStop | kPushButton, 0},
    {kStaticId, "IDC_STATIC", kStatic, Translatable("Tama\xF1o"), 0, 136, 16, 32, 8, kLabel, 0},
    {IDC_SIZE, "IDC_SIZE", kEdit, "", 0, 168, 14, 38, 14, kField, 0},
    {kStaticId, "IDC_STATIC", kStatic, Translatable("Enviado"), 0, 219, 16, 32, 8, kLabel, 0},
    {IDC_SENT, "IDC_SENT", kEdit, "", 0, 250, 14, 38, 14, kField, 0},
    {IDC_PROGRAM, "IDC_PROGRAM", kButton, Translatable("Programar"), 0, 76, 13, 52, 17,
     kControl | kPushButton, 0},
    {IDC_PROGRESS, "IDC_PROGRESS", ControlClass::kProgress, "Progress1", 0, 20, 127, 280, 9,
     kControl | kSmooth, 0},
    {IDC_FILE_VIEW, "IDC_FILE_VIEW", kEdit, "", 0, 20, 38, 145, 60, kView, 0},
    {IDC_RX_VIEW, "IDC_RX_VIEW", kEdit, "", 0, 170, 38, 145, 60, kView, 0},
    {IDC_STATE_LABEL, "IDC_STATE_LABEL", kStatic, Translatable("Estado"), 0, 20, 115, 25, 8, kLabel,
     0},
    {IDC_INFO, "IDC_INFO", kStatic, Translatable("Info"), 0, 49, 115, 187, 8, kLabel, 0},
    {IDC_LOG, "IDC_LOG", kEdit, "", 0, 320, 38, 145, 60, kView, 0},
};

// An icon control keeps its icon's own size: the template holds none.
constexpr ControlTemplate kAboutControls[] = {
    {kStaticId, "IDR_MAINFRAME", kStatic, "", IDR_MAINFRAME, 11, 10, 0, 0, kControl | kIcon, 0},
    {kStaticId, "IDC_ABOUT_PRODUCT", kStatic, UPDATER_ABOUT_PRODUCT_LINE, 0, 40, 10, 119, 8,
     kControl | kStaticLeft | kNoPrefix, 0},
    {kStaticId, "IDC_ABOUT_YEAR", kStatic, "Copyright (C) 2026", 0, 40, 22, 73, 8, kLabel, 0},
    {kOkId, "IDOK", kButton, Translatable("Aceptar"), 0, 150, 7, 50, 14,
     kControl | kGroup | kTabStop | kDefPushButton, 0},
};

constexpr int kHiddenOnOpening[] = {IDC_FILE_VIEW, IDC_RX_VIEW, IDC_LOG};

constexpr ControlMove kMovedOnOpening[] = {
    {IDC_STATE_LABEL, {100, 100, 80, 20}},
    {IDC_INFO, {180, 100, 400, 20}},
    {IDC_PROGRESS, {100, 120, 400, 20}},
};

// Arial 11 points, normal weight, the default character set.
constexpr int kNormalWeight = 400;
constexpr int kDefaultCharset = 1;

}  // namespace

constinit const DialogTemplate kMainDialog = {
    IDD_UPDATER_DIALOG,
    "IDD_UPDATER_DIALOG",
    "Actualizador 47.913 v1",
    "Arial",
    11,
    kNormalWeight,
    0,
    kDefaultCharset,
    0,
    0,
    472,
    154,
    kSetFont | k3dLook | kPopup | kVisible | kCaption | kSysMenu | kThickFrame,
    kAppWindow,
    kMainControls,
};

constinit const DialogTemplate kAboutBox = {
    IDD_ABOUTBOX,
    "IDD_ABOUTBOX",
    Translatable("Acerca de"),
    "Arial",
    11,
    kNormalWeight,
    0,
    kDefaultCharset,
    0,
    0,
    220,
    50,
    kSetFont | kModalFrame | kCenter | kPopup | kCaption | kSysMenu,
    0,
    kAboutControls,
};

constinit const OpeningMoves kMainDialogOpening = {
    kHiddenOnOpening,
    kMovedOnOpening,
    {100, 200, 600, 200},
    IDC_PROGRESS,
};

constinit const char* const kAboutMenuText = Translatable("Acerca de...");

namespace {

std::string AboutProductLine() {
  // UPDATER_ABOUT_PRODUCT_LINE's words, which the resource script needs as one literal.
  char line[128];
  std::snprintf(line, sizeof line, Localized("%s Versi\xF3n %d.%d"), UPDATER_PRODUCT_TITLE,
                UPDATER_VERSION_MAJOR, UPDATER_VERSION_MINOR);
  return line;
}

}  // namespace

bool ShowsCaption(const ControlTemplate& control) {
  return control.windowClass != ControlClass::kProgress && control.iconId == 0 &&
         control.text[0] != '\0';
}

std::string ShownText(const ControlTemplate& control) {
  if (std::strcmp(control.text, UPDATER_ABOUT_PRODUCT_LINE) == 0)
    return AboutProductLine();
  return Localized(control.text);
}

}  // namespace updater
