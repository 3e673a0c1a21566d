// The window as it opens, its menu and About box, and how it closes.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include "gui_support.h"
#include "model/resource.h"
#include "serial/posix_port_driver.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/updater_dlg.h"

namespace {

using Fixture = guitest::OfflineWindow;

template <typename T>
T* Item(const CUpdaterDlg& dlg, const char* name) {
  return dlg.findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

QLabel* StaticWithText(const CUpdaterDlg& dlg, const QString& text) {
  for (QLabel* label : dlg.findChildren<QLabel*>(QStringLiteral("IDC_STATIC")))
    if (label->text() == text)
      return label;
  return nullptr;
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void OpensWithTheTemplateTextsAndStates() {
    Fixture f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    QCOMPARE(f.dlg.windowTitle(), QStringLiteral("Actualizador 47913"));
    QCOMPARE(Item<QPushButton>(f.dlg, "IDC_OPEN")->text(), QStringLiteral("Abrir archivo"));
    QCOMPARE(Item<QPushButton>(f.dlg, "IDC_PROGRAM")->text(), QStringLiteral("Programar"));
    QVERIFY(StaticWithText(f.dlg, QString::fromUtf8("Tama\u00f1o")) != nullptr);
    QVERIFY(StaticWithText(f.dlg, QStringLiteral("Enviado")) != nullptr);
    QCOMPARE(Item<QLabel>(f.dlg, "IDC_STATE_LABEL")->text(), QStringLiteral("Estado"));
    QCOMPARE(Item<QLabel>(f.dlg, "IDC_INFO")->text(), QStringLiteral("Info"));
    QCOMPARE(Item<QLineEdit>(f.dlg, "IDC_SIZE")->text(), QStringLiteral("0"));
    QCOMPARE(Item<QLineEdit>(f.dlg, "IDC_SENT")->text(), QStringLiteral("0"));
    QVERIFY(Item<QLineEdit>(f.dlg, "IDC_SIZE")->isReadOnly());
    QVERIFY(Item<QLineEdit>(f.dlg, "IDC_SENT")->isReadOnly());

    QVERIFY(Item<QPushButton>(f.dlg, "IDC_OPEN")->isEnabled());
    QVERIFY(!Item<QPushButton>(f.dlg, "IDC_PROGRAM")->isEnabled());
    QVERIFY(Item<QProgressBar>(f.dlg, "IDC_PROGRESS")->isVisible());
    for (const char* view : {"IDC_FILE_VIEW", "IDC_RX_VIEW", "IDC_LOG"}) {
      QPlainTextEdit* edit = Item<QPlainTextEdit>(f.dlg, view);
      QVERIFY2(edit != nullptr && !edit->isVisible(), view);
      QVERIFY(edit->isReadOnly());
    }
    QVERIFY(!f.dlg.windowIcon().isNull());
    QVERIFY(f.dlg.windowIcon().availableSizes().contains(QSize(16, 16)));
    QVERIFY(f.dlg.windowIcon().availableSizes().contains(QSize(32, 32)));
  }

  void EachControlIsFoundByItsIdentifier() {
    Fixture f;
    const struct {
      int id;
      const char* name;
    } controls[] = {{IDC_OPEN, "IDC_OPEN"},         {IDC_SIZE, "IDC_SIZE"},
                    {IDC_SENT, "IDC_SENT"},         {IDC_PROGRAM, "IDC_PROGRAM"},
                    {IDC_PROGRESS, "IDC_PROGRESS"}, {IDC_FILE_VIEW, "IDC_FILE_VIEW"},
                    {IDC_RX_VIEW, "IDC_RX_VIEW"},   {IDC_INFO, "IDC_INFO"},
                    {IDC_LOG, "IDC_LOG"},           {IDC_STATE_LABEL, "IDC_STATE_LABEL"}};
    for (const auto& control : controls) {
      QWidget* byName = Item<QWidget>(f.dlg, control.name);
      QVERIFY2(byName != nullptr, control.name);
      QCOMPARE(f.dlg.GetDlgItem(control.id), byName);
    }
    QCOMPARE(f.dlg.GetDlgItem(-1), nullptr);
    QCOMPARE(f.dlg.GetDlgItem(9999), nullptr);
  }

  void LayoutIsTheTemplateInDialogUnitsExceptTheMovedControls() {
    Fixture f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    // Arial 11 points at 96 dpi: about 9 x 17 pixels a dialog unit base.
    const updater::DialogBaseUnits units = f.dlg.base_units();
    QVERIFY2(units.cx >= 6 && units.cx <= 12, qPrintable(QString::number(units.cx)));
    QVERIFY2(units.cy >= 13 && units.cy <= 22, qPrintable(QString::number(units.cy)));
    const auto du = [&](int x, int y, int w, int h) {
      return QRect((x * units.cx + 2) / 4, (y * units.cy + 4) / 8, (w * units.cx + 2) / 4,
                   (h * units.cy + 4) / 8);
    };
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_OPEN")->geometry(), du(20, 13, 52, 17));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_PROGRAM")->geometry(), du(76, 13, 52, 17));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_SIZE")->geometry(), du(168, 14, 38, 14));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_SENT")->geometry(), du(250, 14, 38, 14));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_LOG")->geometry(), du(320, 38, 145, 60));
    QCOMPARE(StaticWithText(f.dlg, QStringLiteral("Enviado"))->geometry(), du(219, 16, 32, 8));

    QCOMPARE(Item<QWidget>(f.dlg, "IDC_STATE_LABEL")->geometry(), QRect(100, 100, 80, 20));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_INFO")->geometry(), QRect(180, 100, 400, 20));
    QCOMPARE(Item<QWidget>(f.dlg, "IDC_PROGRESS")->geometry(), QRect(100, 120, 400, 20));
    QCOMPARE(f.dlg.frameGeometry(), QRect(100, 200, 600, 200));
  }

  void OnlyOpenTakesFocusByTab() {
    Fixture f;
    f.dlg.show();
    f.dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.dlg));
    QWidget* open = Item<QWidget>(f.dlg, "IDC_OPEN");
    QCOMPARE(QApplication::focusWidget(), open);
    for (int i = 0; i < 3; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), open);
    }
  }

  void ContextMenuOpensTheAboutBox() {
    Fixture f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    QStringList menuTexts;
    bool sawSeparatorFirst = false;
    QString caption, product, year, okText;
    bool okIsDefault = false, iconShown = false, closed = false;
    guitest::WhenShown(guitest::ActivePopup, [&](QWidget* popup) {
      auto* menu = qobject_cast<QMenu*>(popup);
      if (menu == nullptr)
        popup->close();
      QVERIFY(menu != nullptr);
      const QList<QAction*> actions = menu->actions();
      sawSeparatorFirst = !actions.isEmpty() && actions.first()->isSeparator();
      for (QAction* action : actions)
        menuTexts << action->text();
      guitest::WhenShown(guitest::ActiveModal, [&](QWidget* box) {
        const auto closeOnFailure = qScopeGuard([box] { box->close(); });
        QVERIFY(qobject_cast<CAboutDlg*>(box) != nullptr);
        caption = box->windowTitle();
        const QLabel* picture = box->findChild<QLabel*>(QStringLiteral("IDR_MAINFRAME"));
        iconShown = picture != nullptr && !picture->pixmap().isNull();
        product = box->findChild<QLabel*>(QStringLiteral("IDC_ABOUT_PRODUCT"))->text();
        year = box->findChild<QLabel*>(QStringLiteral("IDC_ABOUT_YEAR"))->text();
        auto* ok = box->findChild<QPushButton*>(QStringLiteral("IDOK"));
        okText = ok->text();
        okIsDefault = ok->isDefault();
        QTest::keyClick(box, Qt::Key_Return);  // the default button
        closed = !box->isVisible();
      });
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    // A right click on a field opens the window's menu too.
    QWidget* field = Item<QWidget>(f.dlg, "IDC_SIZE");
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            field->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(field, &click);

    QVERIFY(sawSeparatorFirst);
    QCOMPARE(menuTexts, QStringList({QString(), QStringLiteral("Acerca de...")}));
    QCOMPARE(caption, QStringLiteral("Acerca de"));
    QVERIFY(iconShown);
    QVERIFY(product.contains(QStringLiteral("Actualizador 47913")));
    QVERIFY(QRegularExpression(QStringLiteral("\\b(19|20)\\d\\d\\b")).match(year).hasMatch());
    QCOMPARE(okText, QStringLiteral("Aceptar"));
    QVERIFY(okIsDefault);
    QVERIFY(closed);
    QVERIFY(f.dlg.isVisible());
  }

  void EscapeEndsTheModalLoop() {
    Fixture f;
    QTimer::singleShot(0, &f.dlg, [&] { QTest::keyClick(&f.dlg, Qt::Key_Escape); });
    QTimer::singleShot(10000, &f.dlg, [&] { f.dlg.done(99); });
    QCOMPARE(f.dlg.exec(), int{QDialog::Rejected});
  }

  void CloseBoxEndsTheModalLoop() {
    Fixture f;
    QTimer::singleShot(0, &f.dlg, [&] { f.dlg.windowHandle()->close(); });
    QTimer::singleShot(10000, &f.dlg, [&] { f.dlg.done(99); });
    QCOMPARE(f.dlg.exec(), int{QDialog::Rejected});
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
