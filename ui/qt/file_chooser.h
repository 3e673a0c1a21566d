#pragma once

#include <QFileDialog>
#include <cstddef>

#include "download/updater_core.h"

namespace updater {

// The open-file dialog of "Abrir archivo": Qt's own dialog, the same on every desktop. It opens
// with the name "*.QMZ" and lists the names that end in .QMZ in any letter case, as Windows
// matches them; any typed name is accepted, and a typed pattern re-filters the listing instead.
class CQmzFileDialog : public QFileDialog {
  Q_OBJECT

 public:
  static constexpr const char* kPattern = "*.QMZ";

  explicit CQmzFileDialog(QWidget* parent);

  void accept() override;
};

// Chooses the image file with a CQmzFileDialog owned by the window that uses it.
class QtFileChooser final : public FileChooser {
 public:
  explicit QtFileChooser(QWidget* owner = nullptr) : owner_(owner) {}

  void SetOwner(QWidget* owner) { owner_ = owner; }

  bool Choose(char* path, std::size_t capacity) override;

  // The local 8-bit form of `path` into `out`, zero-terminated; false when it does not fit.
  static bool CopyPath(const QString& path, char* out, std::size_t capacity);

 private:
  QWidget* owner_;
};

}  // namespace updater
