#include "ui/qt/dialog_units.h"

#include <QFontMetrics>
#include <cstdint>

namespace updater {

QFont DialogFont(const DialogTemplate& dialog, int logicalDpi) {
  QFont font(QString::fromLatin1(dialog.typeface));
  // Liberation Sans has Arial's metrics and is what fontconfig substitutes on Linux.
  font.setStyleHint(QFont::SansSerif);
  // Qt's weights are the Windows ones (400 normal, 700 bold).
  font.setWeight(static_cast<QFont::Weight>(dialog.weight));
  font.setItalic(dialog.italic != 0);
  font.setPixelSize(MulDiv(dialog.pointSize, logicalDpi, 72));
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits{(alphabet / 26 + 1) / 2, metrics.height()};
}

int MulDiv(int a, int b, int c) {
  if (c == 0)
    return -1;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = (c < 0 ? -c : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const std::int64_t magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -c : c);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int width, int height) {
  return QRect(MulDiv(x, units.cx, 4), MulDiv(y, units.cy, 8), MulDiv(width, units.cx, 4),
               MulDiv(height, units.cy, 8));
}

}  // namespace updater
