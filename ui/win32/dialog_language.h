#pragma once

#include <windows.h>

#include "model/dialog_template.h"

// The resource script holds the dialogs in Spanish: at WM_INITDIALOG, where the chosen language
// is another, each caption and control text is set anew from the catalog. The dialog manager
// creates the controls in the template's order, which is the order of the dialog's children.
void ShowInChosenLanguage(HWND dialog, const updater::DialogTemplate& dialogTemplate);
