#pragma once

#include <QFont>
#include <QRect>

#include "model/dialog_template.h"

namespace updater {

// The base units of a dialog font: the average character width and the character height, in
// pixels. A dialog template's coordinates are quarters of the first and eighths of the second.
struct DialogBaseUnits {
  int cx = 0;
  int cy = 0;
};

// The font of a dialog template (both dialogs: Arial, 11 points, normal weight), sized for
// `logicalDpi` the way a dialog template sizes it (whole pixels, rounded).
QFont DialogFont(const DialogTemplate& dialog, int logicalDpi);

// Measured as a dialog template measures its font: the width of the 52 letters A-Z a-z, halved
// and rounded over 26, and the full line height.
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Integer a * b / c rounded to the nearest, halves away from zero.
int MulDiv(int a, int b, int c);

// A rectangle in dialog units (x, y, width, height) as pixels.
QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int width, int height);

}  // namespace updater
