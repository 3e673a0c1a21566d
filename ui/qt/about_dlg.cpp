#include "ui/qt/about_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/qt/dialog_units.h"
#include "ui/qt/text_codec.h"
#include "ui/resource.h"

namespace {

int LogicalDpi(const QWidget* widget) {
  const QScreen* screen = widget->screen();
  if (screen == nullptr)
    screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? static_cast<int>(screen->logicalDotsPerInchY() + 0.5) : 96;
}

}  // namespace

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
  using updater::MapDialogRect;
  setObjectName(QStringLiteral("IDD_ABOUTBOX"));
  // Modal frame with caption and system menu: no sizing, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(updater::QStringFromCp1252("Acerca de"));
  setWindowIcon(icon);
  const QFont font = updater::DialogFont(LogicalDpi(this));
  setFont(font);
  const updater::DialogBaseUnits units = updater::BaseUnitsOf(font);

  const QRect frame = MapDialogRect(units, 0, 0, 220, 50);
  setFixedSize(frame.size());

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("IDR_MAINFRAME"));
  const QRect iconAt = MapDialogRect(units, 11, 10, 0, 0);
  picture->setGeometry(iconAt.x(), iconAt.y(), 32, 32);
  picture->setPixmap(icon.pixmap(32, 32));

  auto* product = new QLabel(updater::QStringFromCp1252(kProductLine), this);
  product->setObjectName(QStringLiteral("IDC_ABOUT_PRODUCT"));
  product->setTextFormat(Qt::PlainText);
  product->setGeometry(MapDialogRect(units, 40, 10, 119, 8));

  auto* year = new QLabel(updater::QStringFromCp1252(kYearLine), this);
  year->setObjectName(QStringLiteral("IDC_ABOUT_YEAR"));
  year->setTextFormat(Qt::PlainText);
  year->setGeometry(MapDialogRect(units, 40, 22, 73, 8));

  auto* ok = new QPushButton(updater::QStringFromCp1252("Aceptar"), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setGeometry(MapDialogRect(units, 150, 7, 50, 14));
  ok->setDefault(true);
  ok->setFocus();
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
