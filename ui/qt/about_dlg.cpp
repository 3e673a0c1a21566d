#include "ui/qt/about_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "model/dialog_template.h"
#include "model/localized.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/text_codec.h"

namespace {

int LogicalDpi(const QWidget* widget) {
  const QScreen* screen = widget->screen();
  if (screen == nullptr)
    screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchY() + 0.5) : 96;
}

}  // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
  using updater::dialog_style::kButtonTypeMask;
  using updater::dialog_style::kDefPushButton;
  const updater::DialogTemplate& dialog = updater::kAboutBox;
  setObjectName(QString::fromLatin1(dialog.name));
  // Modal frame with caption and system menu: no sizing, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(updater::QStringFromCp1252(updater::Localized(dialog.caption)));
  setWindowIcon(icon);
  const QFont font = updater::DialogFont(dialog, LogicalDpi(this));
  setFont(font);
  const updater::DialogBaseUnits units = updater::BaseUnitsOf(font);
  const auto place = [&units](QWidget* widget, const updater::ControlTemplate& control) {
    widget->setGeometry(
        updater::MapDialogRect(units, control.x, control.y, control.cx, control.cy));
  };

  setFixedSize(updater::MapDialogRect(units, 0, 0, dialog.cx, dialog.cy).size());

  for (const updater::ControlTemplate& control : dialog.controls) {
    const QString name = QString::fromLatin1(control.name);
    if (control.windowClass == updater::ControlClass::kButton) {
      auto* button = new QPushButton(updater::QStringFromCp1252(updater::ShownText(control)), this);
      button->setObjectName(name);
      place(button, control);
      connect(button, &QPushButton::clicked, this, &QDialog::accept);
      if ((control.style & kButtonTypeMask) == kDefPushButton) {
        button->setDefault(true);
        button->setFocus();
      }
    } else if (control.iconId != 0) {
      // The template gives an icon no size: it shows at its own, 32 x 32.
      auto* picture = new QLabel(this);
      picture->setObjectName(name);
      const QRect at = updater::MapDialogRect(units, control.x, control.y, 0, 0);
      picture->setGeometry(at.x(), at.y(), 32, 32);
      picture->setPixmap(icon.pixmap(32, 32));
    } else {
      auto* label = new QLabel(updater::QStringFromCp1252(updater::ShownText(control)), this);
      label->setObjectName(name);
      label->setTextFormat(Qt::PlainText);
      place(label, control);
    }
  }
}
