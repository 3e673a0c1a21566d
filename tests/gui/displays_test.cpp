// The display operations the core reports through, as the window shows them.
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>
#include <string_view>

#include "gui_support.h"
#include "model/resource.h"
#include "serial/posix_port_driver.h"
#include "ui/qt/text_codec.h"
#include "ui/qt/updater_dlg.h"

namespace {

struct Fixture : guitest::OfflineWindow {
  QProgressBar* Bar() const { return dlg.findChild<QProgressBar*>(QStringLiteral("IDC_PROGRESS")); }
};

}  // namespace

class DisplaysTest : public QObject {
  Q_OBJECT

 private slots:
  void Windows1252TextsBecomeTheToolkitsStrings() {
    QCOMPARE(updater::QStringFromCp1252(std::string_view("\x80\x93\x9D")),
             QString::fromUtf8("\u20AC\u201C\u009D"));
    QCOMPARE(updater::QStringFromCp1252(std::string_view("tama\xF1o incorrecto\n")),
             QString::fromUtf8("tama\u00f1o incorrecto\n"));
    QCOMPARE(updater::QStringFromCp1252(std::string_view("a\0b", 3)).size(), 3);
    QCOMPARE(updater::QStringFromCp1252({}), QString());
  }

  void TextsAndNumbersReachTheirControls() {
    Fixture f;
    f.dlg.SetText(IDC_INFO, "Error de comunicaci\xF3n");
    QCOMPARE(f.dlg.findChild<QLabel*>(QStringLiteral("IDC_INFO"))->text(),
             QString::fromUtf8("Error de comunicaci\u00f3n"));
    f.dlg.SetText(IDC_INFO, "<b>x</b>");  // shown as it stands, not as markup
    QCOMPARE(f.dlg.findChild<QLabel*>(QStringLiteral("IDC_INFO"))->textFormat(), Qt::PlainText);
    f.dlg.SetNumber(IDC_SIZE, 4294967295u);
    QCOMPARE(f.dlg.findChild<QLineEdit*>(QStringLiteral("IDC_SIZE"))->text(),
             QStringLiteral("4294967295"));
    f.dlg.SetSignedNumber(IDC_SENT, -1);
    QCOMPARE(f.dlg.findChild<QLineEdit*>(QStringLiteral("IDC_SENT"))->text(), QStringLiteral("-1"));
    f.dlg.SetText(IDC_SENT, "");
    QCOMPARE(f.dlg.findChild<QLineEdit*>(QStringLiteral("IDC_SENT"))->text(), QString());
    f.dlg.SetText(IDC_RX_VIEW, "0123");
    QCOMPARE(f.dlg.findChild<QPlainTextEdit*>(QStringLiteral("IDC_RX_VIEW"))->toPlainText(),
             QStringLiteral("0123"));
    f.dlg.Enable(IDC_PROGRAM, true);
    QVERIFY(f.dlg.findChild<QPushButton*>(QStringLiteral("IDC_PROGRAM"))->isEnabled());
    f.dlg.SetText(9999, "nothing there");  // an unknown identifier is ignored
  }

  void TheProgressBarStepsClampsAndWraps() {
    Fixture f;
    f.dlg.SetProgressRange(3);
    f.dlg.SetProgressStep(1);
    f.dlg.SetProgressPos(0);
    QCOMPARE(f.Bar()->maximum(), 3);
    for (int expected : {1, 2, 3, 0, 1}) {
      f.dlg.StepProgress();
      QCOMPARE(f.Bar()->value(), expected);
    }
    f.dlg.SetProgressPos(500);
    QCOMPARE(f.Bar()->value(), 3);
    f.dlg.SetProgressRange(0xFFFF);
    f.dlg.SetProgressPos(0xFFFF);
    QCOMPARE(f.Bar()->maximum(), 0xFFFF);
    QCOMPARE(f.Bar()->value(), 0xFFFF);

    f.dlg.SetProgressRange(0);
    QVERIFY(f.Bar()->maximum() > f.Bar()->minimum());  // never the busy animation
    QCOMPARE(f.Bar()->value(), 0);
    f.dlg.StepProgress();
    QCOMPARE(f.Bar()->value(), 0);
  }

  void TheWaitCursorIsSetOnceAndRestored() {
    {
      Fixture f;
      f.dlg.SetCursor(updater::CursorShape::kWait);
      f.dlg.SetCursor(updater::CursorShape::kWait);
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      f.dlg.SetCursor(updater::CursorShape::kArrow);
      QCOMPARE(QApplication::overrideCursor(), nullptr);
      f.dlg.SetCursor(updater::CursorShape::kArrow);
      QCOMPARE(QApplication::overrideCursor(), nullptr);
      f.dlg.SetCursor(updater::CursorShape::kWait);
    }
    // A window that goes away leaves no cursor of its own behind.
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void TheMessageBoxHasOneButtonAndTheApplicationsName() {
    Fixture f;
    QString caption, text, okText;
    int buttons = 0;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
      const auto closeOnFailure = qScopeGuard([w] { w->close(); });
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box != nullptr);
      caption = box->windowTitle();
      text = box->text();
      buttons = static_cast<int>(box->buttons().size());
      okText = box->button(QMessageBox::Ok)->text();
      box->button(QMessageBox::Ok)->click();
    });
    f.dlg.ShowMessageBox("Error de comunicaci\xF3n");
    QCOMPARE(caption, QStringLiteral("Actualizador"));
    QCOMPARE(text, QString::fromUtf8("Error de comunicaci\u00f3n"));
    QCOMPARE(buttons, 1);
    QCOMPARE(okText, QStringLiteral("Aceptar"));
  }
};

QTEST_MAIN(DisplaysTest)
#include "displays_test.moc"
