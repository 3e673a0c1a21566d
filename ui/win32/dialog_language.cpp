#include "ui/win32/dialog_language.h"

#include "model/localized.h"

void ShowInChosenLanguage(HWND dialog, const updater::DialogTemplate& dialogTemplate) {
  if (updater::InSpanish())
    return;
  SetWindowTextA(dialog, updater::Localized(dialogTemplate.caption));
  HWND child = GetWindow(dialog, GW_CHILD);
  for (const updater::ControlTemplate& control : dialogTemplate.controls) {
    if (child == nullptr)
      return;
    if (updater::ShowsCaption(control) && GetDlgCtrlID(child) == control.id)
      SetWindowTextA(child, updater::ShownText(control).c_str());
    child = GetWindow(child, GW_HWNDNEXT);
  }
}
