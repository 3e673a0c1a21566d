#include "gui_support.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <memory>

#include "ui/qt/file_chooser.h"

namespace guitest {

bool ScriptedChooser::Choose(char* path, std::size_t capacity) {
  ++calls_;
  if (path_.isEmpty())
    return false;
  return updater::QtFileChooser::CopyPath(path_, path, capacity);
}

std::uint32_t SkippingClock::TickCount() {
  static QElapsedTimer elapsed = [] {
    QElapsedTimer timer;
    timer.start();
    return timer;
  }();
  return static_cast<std::uint32_t>(elapsed.elapsed()) + skipped_;
}

void SkippingClock::Sleep(std::uint32_t ms) {
  skipped_ += ms;
  Pump();
}

void SkippingClock::Pump() {
  ++pumps_;
  if (hook_ != nullptr)
    hook_(context_);
}

PortTable::PortTable(const QTemporaryDir& dir) {
  for (int i = 0; i < 4; ++i)
    paths_[static_cast<std::size_t>(i)] =
        QFile::encodeName(dir.filePath(QStringLiteral("absent-COM%1").arg(i + 1))).toStdString();
}

updater::PosixPortDriver::PathTable PortTable::table() const {
  return {paths_[0].c_str(), paths_[1].c_str(), paths_[2].c_str(), paths_[3].c_str()};
}

SimDevice::~SimDevice() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

bool SimDevice::Start(const QStringList& args) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(QStringLiteral(UPDATER_SIM_PATH),
                 QStringList(args) << QStringLiteral("--timeout") << QStringLiteral("60"));
  if (!process_.waitForStarted(10000))
    return false;
  QElapsedTimer waited;
  waited.start();
  while (!process_.canReadLine()) {
    if (waited.elapsed() > 10000 || !process_.waitForReadyRead(1000)) {
      if (process_.state() == QProcess::NotRunning || waited.elapsed() > 10000)
        return false;
    }
  }
  path_ = process_.readLine().trimmed().toStdString();
  return !path_.empty();
}

int SimDevice::Finish(int timeoutMs) {
  // An exit already seen by the event loop does not count as a time-out.
  if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs))
    return -1;
  return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
}

QString WriteImage(const QTemporaryDir& dir, const QString& name, int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(i == 0 ? 0x51 : 1 + i % 251);
  const QString path = dir.filePath(name);
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
