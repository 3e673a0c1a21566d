// Opening an image file: through the window with the answer scripted, and the file dialog itself.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QtTest>

#include "gui_support.h"
#include "serial/posix_port_driver.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/updater_dlg.h"

namespace {

struct Fixture : guitest::OfflineWindow {
  QString Text(const char* name) const {
    QWidget* w = dlg.findChild<QWidget*>(QString::fromLatin1(name));
    if (auto* line = qobject_cast<QLineEdit*>(w))
      return line->text();
    if (auto* label = qobject_cast<QLabel*>(w))
      return label->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
      return plain->toPlainText();
    return QStringLiteral("<none>");
  }
  QPushButton* Button(const char* name) const {
    return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
  }
  QProgressBar* Bar() const { return dlg.findChild<QProgressBar*>(QStringLiteral("IDC_PROGRESS")); }
};

// The names the dialog lists in its current directory, once the listing has loaded.
QStringList Listed(QFileDialog* dialog) {
  auto* view = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
  if (view == nullptr || view->model() == nullptr)
    return {};
  QStringList names;
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < view->model()->rowCount(root); ++row)
    names << view->model()->index(row, 0, root).data().toString();
  names.sort();
  return names;
}

}  // namespace

class OpenFileTest : public QObject {
  Q_OBJECT

 private slots:
  void Opening300BytesShowsTheSizeAndEnablesProgramar() {
    Fixture f;
    f.dlg.show();
    f.chooser.Answer(guitest::WriteImage(f.dir, QStringLiteral("IMAGEN.QMZ"), 300));
    QTest::mouseClick(f.Button("IDC_OPEN"), Qt::LeftButton);
    QCOMPARE(f.chooser.calls(), 1);
    QCOMPARE(f.Text("IDC_SIZE"), QStringLiteral("300"));
    QCOMPARE(f.Text("IDC_SENT"), QStringLiteral("0"));
    QCOMPARE(f.Text("IDC_INFO"), QStringLiteral("Hay datos"));
    QCOMPARE(f.Bar()->minimum(), 0);
    QCOMPARE(f.Bar()->maximum(), 300);
    QCOMPARE(f.Bar()->value(), 0);
    QCOMPARE(f.dlg.progress().step(), 1);
    QVERIFY(f.Button("IDC_PROGRAM")->isEnabled());
    QCOMPARE(f.Text("IDC_FILE_VIEW").size(), 300);
  }

  void AnImageTheGateRefusesIsNotLoadedAndSaysWhy() {
    struct Refusing : updater::ImageGate {
      bool Admit(const char*, const std::uint8_t*, std::uint32_t, char* reason,
                 std::size_t capacity) override {
        std::snprintf(reason, capacity, "Imagen rechazada: sin firma v\xE1lida");
        return false;
      }
    } refusing;
    Fixture f;
    f.dlg.show();
    f.dlg.core().SetImageGate(&refusing);
    f.chooser.Answer(guitest::WriteImage(f.dir, QStringLiteral("IMAGEN.QMZ"), 300));
    QString text;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
      const auto closeOnFailure = qScopeGuard([w] { w->close(); });
      auto* box = qobject_cast<QMessageBox*>(w);
      QVERIFY(box != nullptr);
      text = box->text();
      QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::mouseClick(f.Button("IDC_OPEN"), Qt::LeftButton);
    QCOMPARE(text, QString::fromUtf8("Imagen rechazada: sin firma v\u00e1lida"));
    QCOMPARE(f.Text("IDC_SIZE"), QStringLiteral("0"));
    QVERIFY(!f.Button("IDC_PROGRAM")->isEnabled());
  }

  void CancellingChangesOnlyTheStatusLine() {
    Fixture f;
    f.chooser.Cancel();
    f.dlg.OnOpenFile();
    QCOMPARE(f.chooser.calls(), 1);
    QCOMPARE(f.Text("IDC_INFO"), QStringLiteral("Hay datos"));
    QCOMPARE(f.Text("IDC_SIZE"), QStringLiteral("0"));
    QCOMPARE(f.Text("IDC_SENT"), QStringLiteral("0"));
    QVERIFY(!f.Button("IDC_PROGRAM")->isEnabled());
    QCOMPARE(f.Bar()->maximum(), 100);
    QCOMPARE(f.Text("IDC_LOG"), QString());

    // After a load, a cancelled second choice keeps the loaded image.
    f.chooser.Answer(guitest::WriteImage(f.dir, QStringLiteral("a.qmz"), 300));
    f.dlg.OnOpenFile();
    f.chooser.Cancel();
    f.dlg.OnOpenFile();
    QCOMPARE(f.Text("IDC_SIZE"), QStringLiteral("300"));
    QCOMPARE(f.Bar()->maximum(), 300);
    QVERIFY(f.Button("IDC_PROGRAM")->isEnabled());
  }

  void AFullBufferRangesTheBarToZeroWithoutABusyBar() {
    Fixture f;
    f.chooser.Answer(guitest::WriteImage(f.dir, QStringLiteral("big.QMZ"), 70000));
    f.dlg.OnOpenFile();
    QCOMPARE(f.Text("IDC_SIZE"), QStringLiteral("65536"));
    QCOMPARE(f.dlg.progress().upper(), 0);
    // Qt animates a 0..0 bar as busy; an empty bar is what this range shows.
    QVERIFY(f.Bar()->maximum() > f.Bar()->minimum());
    QCOMPARE(f.Bar()->value(), f.Bar()->minimum());
  }

  void TheImageViewShowsWindows1252Text() {
    Fixture f;
    const QString path = guitest::FilePath(f.dir, QStringLiteral("texto.QMZ"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "Se\xF1"
        "al \x80 \x93ok\x94"
        "\0tail",
        16);
    file.close();
    f.chooser.Answer(path);
    f.dlg.OnOpenFile();
    QCOMPARE(f.Text("IDC_FILE_VIEW"), QString::fromUtf8("Se\u00f1al \u20ac \u201cok\u201d"));
  }

  void TheWindowsOwnDialogLoadsTheChosenFile() {
    const support::TempDir dir;
    const QString image = guitest::WriteImage(dir, QStringLiteral("uno.QMZ"), 300);
    // The program's own chooser, as app/ hands it to the window; no port is touched.
    const guitest::PortTable absent{dir};
    updater::PosixPortDriver driver{absent.table()};
    updater::SystemClock clock;
    updater::QtFileChooser files;
    CUpdaterDlg dlg(driver, clock, files);
    QWidget* parentSeen = nullptr;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
      const auto closeOnFailure = qScopeGuard([w] { w->close(); });
      auto* dialog = qobject_cast<QFileDialog*>(w);
      QVERIFY(dialog != nullptr);
      parentSeen = dialog->parentWidget();
      // Typed, as the operator does: a selection does not replace what the name field holds
      // once it has the focus.
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(image);
      static_cast<QDialog*>(dialog)->accept();
    });
    dlg.OnOpenFile();
    QCOMPARE(parentSeen, &dlg);
    QCOMPARE(dlg.findChild<QLineEdit*>(QStringLiteral("IDC_SIZE"))->text(), QStringLiteral("300"));
  }

  void TheDialogListsQmzInAnyCaseAndAcceptsAnyName() {
    const support::TempDir dir;
    for (const char* name : {"a.QMZ", "b.qmz", "c.Qmz", "d.txt", "e.QMZ.bak"})
      QVERIFY(!guitest::WriteImage(dir, QString::fromLatin1(name), 4).isEmpty());
    QWidget owner;
    updater::QtFileChooser chooser(&owner);
    QString initialName;
    QStringList filters, listed, relisted;
    bool native = true, stayedOpen = false;
    guitest::WhenShown(guitest::ActiveModal, [&](QWidget* w) {
      const auto closeOnFailure = qScopeGuard([w] { w->close(); });
      auto* dialog = qobject_cast<QFileDialog*>(w);
      QVERIFY(dialog != nullptr);
      native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
      filters = dialog->nameFilters();
      auto* nameEdit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      initialName = nameEdit->text();
      dialog->setDirectory(guitest::Folder(dir));
      QTRY_COMPARE_WITH_TIMEOUT(Listed(dialog).size(), 3, 10000);
      listed = Listed(dialog);
      // A typed pattern filters the listing and leaves the dialog open.
      nameEdit->setText(QStringLiteral("*.txt"));
      static_cast<QDialog*>(dialog)->accept();
      stayedOpen = dialog->isVisible();
      QTRY_COMPARE_WITH_TIMEOUT(Listed(dialog).size(), 1, 10000);
      relisted = Listed(dialog);
      // A name that does not exist is accepted as typed.
      nameEdit->setText(QStringLiteral("nuevo.bin"));
      static_cast<QDialog*>(dialog)->accept();
    });
    char path[4096] = {};
    QVERIFY(chooser.Choose(path, sizeof path));
    QVERIFY(!native);
    QCOMPARE(initialName, QStringLiteral("*.QMZ"));
    QCOMPARE(filters, QStringList(QStringLiteral("*.QMZ")));
    QCOMPARE(listed, QStringList({"a.QMZ", "b.qmz", "c.Qmz"}));
    QVERIFY(stayedOpen);
    QCOMPARE(relisted, QStringList(QStringLiteral("d.txt")));
    QCOMPARE(QString::fromLocal8Bit(path), guitest::FilePath(dir, QStringLiteral("nuevo.bin")));
  }

  void CancelInTheDialogChoosesNothing() {
    QWidget owner;
    updater::QtFileChooser chooser(&owner);
    guitest::WhenShown(guitest::ActiveModal,
                       [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    char path[16] = "unchanged";
    QVERIFY(!chooser.Choose(path, sizeof path));
  }

  void APathLongerThanTheBufferIsRefused() {
    char small[8] = {};
    QVERIFY(updater::QtFileChooser::CopyPath(QStringLiteral("/a/b.QM"), small, sizeof small));
    QCOMPARE(QByteArray(small), QByteArray("/a/b.QM"));
    QVERIFY(!updater::QtFileChooser::CopyPath(QStringLiteral("/a/b.QMZ"), small, sizeof small));
    QVERIFY(!updater::QtFileChooser::CopyPath(QStringLiteral("x"), small, 0));
  }
};

QTEST_MAIN(OpenFileTest)
#include "open_file_test.moc"
