#include "ui/qt/file_chooser.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstring>

#include "model/localized.h"
#include "ui/qt/text_codec.h"

namespace updater {

CQmzFileDialog::CQmzFileDialog(QWidget* parent) : QFileDialog(parent) {
  setOption(QFileDialog::DontUseNativeDialog);
  setAcceptMode(QFileDialog::AcceptOpen);
  // No existence check: the name typed is the name loaded, and loading reports what it cannot open.
  setFileMode(QFileDialog::AnyFile);
  setNameFilter(QString::fromLatin1(kPattern));
  setFilter(filter() & ~QDir::CaseSensitive);
  // Qt draws the rest of the dialog in its own language, English without a translation of Qt.
  setWindowTitle(QStringFromCp1252(Localized("Abrir")));
  setLabelText(QFileDialog::LookIn, QStringFromCp1252(Localized("Buscar en:")));
  setLabelText(QFileDialog::FileName, QStringFromCp1252(Localized("Nombre:")));
  setLabelText(QFileDialog::FileType, QStringFromCp1252(Localized("Tipo:")));
  setLabelText(QFileDialog::Accept, QStringFromCp1252(Localized("Abrir")));
  setLabelText(QFileDialog::Reject, QStringFromCp1252(Localized("Cancelar")));
  selectFile(QString::fromLatin1(kPattern));
}

void CQmzFileDialog::accept() {
  const QStringList files = selectedFiles();
  if (!files.isEmpty()) {
    const QString name = QFileInfo(files.first()).fileName();
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
      setNameFilter(name);
      return;
    }
  }
  QFileDialog::accept();
}

bool QtFileChooser::Choose(char* path, std::size_t capacity) {
  CQmzFileDialog dialog(owner_);
  if (dialog.exec() != QDialog::Accepted)
    return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty())
    return false;
  return CopyPath(files.first(), path, capacity);
}

bool QtFileChooser::CopyPath(const QString& path, char* out, std::size_t capacity) {
  const QByteArray local = QFile::encodeName(path);
  const auto length = static_cast<std::size_t>(local.size());
  if (capacity == 0 || length >= capacity)
    return false;
  std::memcpy(out, local.constData(), length);
  out[length] = '\0';
  return true;
}

}  // namespace updater
