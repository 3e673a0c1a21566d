// A programming run from the window against the simulated device on a pseudo-terminal.
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <string>

#include "gui_support.h"
#include "serial/clock.h"
#include "serial/posix_port_driver.h"
#include "ui/qt/updater_dlg.h"

namespace {

using guitest::RunFixture;
using FastRun = RunFixture<fakes::SkippingClock>;

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void AWholeRunMovesTheCountsAndEndsWithThePortClosed() {
    RunFixture<updater::SystemClock> f;  // the machine's clock, pumped by the window
    const QString saved = guitest::FilePath(f.dir, QStringLiteral("recibido.bin"));
    QVERIFY(f.Start({QStringLiteral("--no-pace"), QStringLiteral("--save"), saved}));
    QVERIFY(f.Load(300));

    QStringList sentTexts;
    QObject::connect(f.Item<QLineEdit>("IDC_SENT"), &QLineEdit::textChanged,
                     [&](const QString& text) { sentTexts << text; });
    // A timer that only fires when the run pumps the event loop; it also sees the cursor.
    int ticks = 0, waitCursorTicks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      if (!f.dlg->IsRunning())
        return;
      ++ticks;
      const QCursor* cursor = QApplication::overrideCursor();
      if (cursor != nullptr && cursor->shape() == Qt::WaitCursor)
        ++waitCursorTicks;
    });
    ticker.start(20);

    QTest::mouseClick(f.Button("IDC_PROGRAM"), Qt::LeftButton);

    QVERIFY(!f.dlg->IsRunning());
    QCOMPARE(f.Info(), QStringLiteral("Descarga correcta\n"));
    QVERIFY2(f.Log().contains("Conectado a equipo en COM3\r\n"), f.Log().constData());
    QVERIFY(f.Log().endsWith("Descarga correcta\n\r\n"));
    QVERIFY(f.Item<QPlainTextEdit>("IDC_LOG")->toPlainText().contains(
        QStringLiteral("Descarga correcta")));
    QCOMPARE(sentTexts.first(), QString());
    QCOMPARE(sentTexts.mid(sentTexts.indexOf(QStringLiteral("128"))),
             QStringList({"128", "256", "300"}));
    QCOMPARE(f.Item<QProgressBar>("IDC_PROGRESS")->value(), 300);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!f.dlg->core().m_link.IsOpen());
    // Discovery and the protocol's pauses last seconds on this clock: the window kept running.
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QCOMPARE(waitCursorTicks, ticks);

    QCOMPARE(f.sim.Wait(20000), 0);
    QFile received(saved);
    QVERIFY(received.open(QIODevice::ReadOnly));
    QFile sent(f.image);
    QVERIFY(sent.open(QIODevice::ReadOnly));
    QCOMPARE(received.readAll(), sent.readAll());
  }

  void AnEchoMismatchAsksForAnOkAndEndsTheRun() {
    FastRun f;
    // The fifth byte of the second block comes back wrong.
    QVERIFY(f.Start({QStringLiteral("--no-pace"), QStringLiteral("--wrong-echo=132")}));
    f.clock.SetPumpHook(&CUpdaterDlg::PumpHook, f.dlg.get());
    QVERIFY(f.Load(300));

    int boxes = 0;
    QString caption, text;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::Critical;
    bool waitCursorOverBox = true;
    std::function<void()> answer = [&] {
      guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
        const auto closeOnFailure = qScopeGuard([w] { w->close(); });
        auto* box = qobject_cast<QMessageBox*>(w);
        QVERIFY(box != nullptr);
        ++boxes;
        caption = box->windowTitle();
        text = box->text();
        buttons = static_cast<int>(box->buttons().size());
        icon = box->icon();
        waitCursorOverBox = QApplication::overrideCursor() != nullptr;
        QTest::keyClick(box, Qt::Key_Return);
        answer();  // a second box would be answered and counted too
      });
    };
    answer();

    QTest::mouseClick(f.Button("IDC_PROGRAM"), Qt::LeftButton);

    QCOMPARE(boxes, 1);
    QCOMPARE(caption, QStringLiteral("Actualizador"));
    QCOMPARE(text, QString::fromUtf8("Error de comunicaci\u00f3n"));
    QCOMPARE(buttons, 1);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QVERIFY(!waitCursorOverBox);
    QVERIFY(!f.Log().contains("Descarga correcta"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(!f.dlg->core().m_link.IsOpen());
    QVERIFY(f.dlg->isVisible());
  }

  void InputDuringARunIsDroppedNotReplayed() {
    FastRun f;
    QVERIFY(f.Start({QStringLiteral("--no-pace")}));
    f.clock.SetPumpHook(&CUpdaterDlg::PumpHook, f.dlg.get());
    QVERIFY(f.Load(300));
    const int choicesBefore = f.chooser.calls();

    bool injectedDuringRun = false;
    QTimer::singleShot(0, f.dlg.get(), [&] {
      injectedDuringRun = f.dlg->IsRunning();
      QTest::mouseClick(f.Button("IDC_PROGRAM"), Qt::LeftButton);
      QTest::mouseClick(f.Button("IDC_OPEN"), Qt::LeftButton);
      QTest::keyClick(f.Button("IDC_OPEN"), Qt::Key_Space);
      QTest::keyClick(f.dlg.get(), Qt::Key_Escape);
      QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(5, 5),
                                   f.dlg->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(f.dlg.get(), &rightClick);
      f.dlg->close();
      f.dlg->windowHandle()->close();
      // A click that reaches the handler by another road still starts no second run.
      f.dlg->OnProgram();
      f.dlg->OnOpenFile();
    });
    // Should anything have opened a menu or a box, close it so that the test goes on.
    bool somethingPoppedUp = false;
    guitest::WhenShown(
        [] {
          return QApplication::activePopupWidget() ? QApplication::activePopupWidget()
                                                   : QApplication::activeModalWidget();
        },
        [&](QWidget* w) {
          somethingPoppedUp = true;
          w->close();
        },
        3000);

    QTest::mouseClick(f.Button("IDC_PROGRAM"), Qt::LeftButton);
    QTest::qWait(200);  // anything deferred would be delivered now

    QVERIFY(injectedDuringRun);
    QVERIFY(!somethingPoppedUp);
    QCOMPARE(f.Log().count("Probando COM1 ...\n"), 1);
    QCOMPARE(f.Info(), QStringLiteral("Descarga correcta\n"));
    QCOMPARE(f.chooser.calls(), choicesBefore);
    QVERIFY(f.dlg->isVisible());
    QVERIFY(!f.dlg->core().m_link.IsOpen());
    QCOMPARE(f.sim.Wait(20000), 0);

    // Once the run is over the window takes input again.
    f.chooser.Cancel();
    QTest::mouseClick(f.Button("IDC_OPEN"), Qt::LeftButton);
    QCOMPARE(f.chooser.calls(), choicesBefore + 1);
  }

  void WithNoDeviceTheRunEndsWithTheArrowCursor() {
    FastRun f;
    QVERIFY(f.Start({}));
    f.clock.SetPumpHook(&CUpdaterDlg::PumpHook, f.dlg.get());
    QVERIFY(f.Load(10));
    f.dlg->OnProgram();
    QCOMPARE(f.Info(), QStringLiteral("No se puede conectar\n"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(f.clock.pumps() > 0);
  }
};

QTEST_MAIN(RunTest)
#include "run_test.moc"
