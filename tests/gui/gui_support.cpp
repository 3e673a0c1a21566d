#include "gui_support.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "ui/qt/file_chooser.h"

namespace guitest {

bool ScriptedChooser::Choose(char* path, std::size_t capacity) {
  ++calls_;
  if (path_.isEmpty())
    return false;
  return updater::QtFileChooser::CopyPath(path_, path, capacity);
}

PortTable::PortTable(const support::TempDir& dir) {
  for (int i = 0; i < 4; ++i)
    paths_[static_cast<std::size_t>(i)] = dir.File("absent-COM" + std::to_string(i + 1));
}

updater::PosixPortDriver::PathTable PortTable::table() const {
  return {paths_[0].c_str(), paths_[1].c_str(), paths_[2].c_str(), paths_[3].c_str()};
}

bool StartSim(support::SimProcess& sim, const QStringList& args) {
  std::vector<std::string> options;
  for (const QString& arg : args)
    options.push_back(QFile::encodeName(arg).toStdString());
  options.insert(options.end(), {"--timeout", "60"});
  return sim.Start(SIM47913_PATH, options);
}

QString Folder(const support::TempDir& dir) {
  return QFile::decodeName(dir.path().c_str());
}

QString FilePath(const support::TempDir& dir, const QString& name) {
  return QDir(Folder(dir)).filePath(name);
}

QString WriteImage(const support::TempDir& dir, const QString& name, int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i == 0 ? 0x51 : 1 + i % 251);
  const QString path = FilePath(dir, name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
    return QString();
  return path;
}

void WhenShown(std::function<QWidget*()> find, std::function<void(QWidget*)> act, int timeoutMs) {
  auto* timer = new QTimer(qApp);
  auto elapsed = std::make_shared<QElapsedTimer>();
  elapsed->start();
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    QWidget* widget = find();
    if (widget == nullptr && elapsed->elapsed() < timeoutMs)
      return;
    timer->stop();
    timer->deleteLater();
    if (widget != nullptr)
      act(widget);
  });
  timer->start(10);
}

QWidget* ActiveModal() {
  return QApplication::activeModalWidget();
}
QWidget* ActivePopup() {
  return QApplication::activePopupWidget();
}

}  // namespace guitest
