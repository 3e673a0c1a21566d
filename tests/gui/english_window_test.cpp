// The window in English (CTest runs it with LANG=en_US.UTF-8 and the build's catalogs): its
// texts, the About box, the boxes and a run's status lines are English, and each text fits the
// control that the Spanish texts sized, measured in the font the window uses.
#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>
#include <algorithm>

#include "gui_support.h"
#include "model/localized.h"
#include "model/resource.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/updater_dlg.h"

namespace {

// The widest line of `text` in `widget`'s font.
int TextWidth(const QWidget* widget, const QString& text) {
  const QFontMetrics metrics(widget->font());
  int widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    widest = std::max(widest, metrics.horizontalAdvance(line));
  return widest;
}

// The width a label or push button draws its text in: the button's inside its frame, as its
// style lays it out.
int TextRoom(const QWidget* widget) {
  if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault())
      option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isDefault())
      option.features |= QStyleOptionButton::DefaultButton;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
  }
  const auto* label = qobject_cast<const QLabel*>(widget);
  return label->contentsRect().width() - 2 * label->margin();
}

QString TextOf(const QWidget* widget) {
  if (const auto* button = qobject_cast<const QPushButton*>(widget))
    return button->text();
  return qobject_cast<const QLabel*>(widget)->text();
}

// Every label and push button of `dialog` shows `text` whole; each figure goes to the log.
void ExpectTextsFit(const QWidget* dialog) {
  QList<const QWidget*> texts;
  for (const QLabel* label : dialog->findChildren<QLabel*>())
    if (!label->text().isEmpty())
      texts << label;
  for (const QPushButton* button : dialog->findChildren<QPushButton*>())
    texts << button;
  QVERIFY(!texts.isEmpty());
  for (const QWidget* widget : texts) {
    const QString text = TextOf(widget);
    const int width = TextWidth(widget, text), room = TextRoom(widget);
    qInfo("%s \"%s\": %d px in %d px", qPrintable(widget->objectName()), qPrintable(text), width,
          room);
    QVERIFY2(width <= room, qPrintable(text));
  }
}

// The window over COM3, served by the simulator with `simArgs` and pumped by its clock, with an
// image of 300 bytes loaded.
struct EnglishRun : guitest::RunFixture<fakes::SkippingClock> {
  bool Start(const QStringList& simArgs) {
    if (!RunFixture::Start(simArgs))
      return false;
    clock.SetPumpHook(&CUpdaterDlg::PumpHook, dlg.get());
    Load(300);
    return true;
  }
  void Program() { QTest::mouseClick(Button("IDC_PROGRAM"), Qt::LeftButton); }
  QLabel* InfoLabel() const { return Item<QLabel>("IDC_INFO"); }
};

}  // namespace

class EnglishWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void TheWindowAndItsAboutBoxAreEnglishAndFit() {
    QVERIFY2(!updater::InSpanish(), "LANG=en_US.UTF-8 and ACTUALIZADOR_LOCALEDIR set by CTest");
    guitest::OfflineWindow f;
    f.dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dlg));
    QStringList texts;
    for (const QLabel* label : f.dlg.findChildren<QLabel*>())
      texts << label->text();
    QCOMPARE(texts, QStringList({"Size", "Sent", "Status", "Info"}));
    QCOMPARE(f.dlg.findChild<QPushButton*>("IDC_OPEN")->text(), QStringLiteral("Open file"));
    QCOMPARE(f.dlg.findChild<QPushButton*>("IDC_PROGRAM")->text(), QStringLiteral("Program"));
    ExpectTextsFit(&f.dlg);

    QMenu menu;
    f.dlg.FillSystemMenu(menu);
    QCOMPARE(menu.actions().last()->text(), QStringLiteral("About..."));

    bool seen = false;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* box) {
      const auto close = qScopeGuard([box] { box->close(); });
      QCOMPARE(box->windowTitle(), QStringLiteral("About"));
      QCOMPARE(box->findChild<QLabel*>("IDC_ABOUT_PRODUCT")->text(),
               QStringLiteral("Actualizador 47913 Version 1.0"));
      QCOMPARE(box->findChild<QPushButton*>("IDOK")->text(), QStringLiteral("OK"));
      ExpectTextsFit(box);
      seen = true;
    });
    f.dlg.OnSysCommand(IDM_ABOUTBOX);
    QVERIFY(seen);

    updater::CQmzFileDialog files(nullptr);
    QCOMPARE(files.windowTitle(), QStringLiteral("Open"));
    QCOMPARE(files.labelText(QFileDialog::FileName), QStringLiteral("File name:"));
    QCOMPARE(files.labelText(QFileDialog::Accept), QStringLiteral("Open"));
    QCOMPARE(files.labelText(QFileDialog::Reject), QStringLiteral("Cancel"));
  }

  void ARunsStatusLinesAreEnglishAndFitTheStatusLine() {
    EnglishRun f;
    QVERIFY(f.Start({QStringLiteral("--no-pace")}));
    f.Program();
    QCOMPARE(f.InfoLabel()->text(), QStringLiteral("Download complete\n"));
    const QString log = QString::fromLatin1(f.dlg->core().m_report.m_log);
    QVERIFY2(log.contains(QStringLiteral("Download started\n\r\n")), qPrintable(log));
    int widest = 0;
    for (const QString& line : log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
      widest = std::max(widest, TextWidth(f.InfoLabel(), line));
      QVERIFY2(TextWidth(f.InfoLabel(), line) <= TextRoom(f.InfoLabel()), qPrintable(line));
    }
    qInfo("IDC_INFO: the widest status line %d px in %d px", widest, TextRoom(f.InfoLabel()));
  }

  void AWrongEchoIsReportedInAnEnglishBox() {
    EnglishRun f;
    QVERIFY(f.Start({QStringLiteral("--no-pace"), QStringLiteral("--wrong-echo=132")}));
    QString text, ok;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
      const auto close = qScopeGuard([w] { w->close(); });
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box != nullptr);
      text = box->text();
      ok = box->button(QMessageBox::Ok)->text();
    });
    f.Program();
    QCOMPARE(text, QStringLiteral("Communication error"));
    QCOMPARE(ok, QStringLiteral("OK"));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  updater::UseSystemLanguage();
  EnglishWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "english_window_test.moc"
