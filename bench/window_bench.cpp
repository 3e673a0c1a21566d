// Measures the window over whole downloads against the simulator on a pseudo-terminal (COM3; COM1,
// COM2 and COM4 absent), with the machine's clock pumping the window as in the program:
// - one run paced at 9600 baud: its wall time against the line-rate bound, the longest gap
//   between two passes of the event loop, the CPU share of the process and its peak resident
//   size during the run;
// - N unpaced runs of a small image in one window: the resident size after each, to see whether
//   it grows from one run to the next.
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise (e.g. xcb under xvfb-run).
// Usage: window_bench [--size BYTES] [--runs N] [--leak-size BYTES] [--no-timing] [--no-leak]
//                     [--trace-gaps MS] [--full-log] [--no-timer] [--sim PATH]
// --trace-gaps lists the paced run's gaps of at least MS milliseconds with where the run stood;
// --no-timer times the passes from the dispatcher's wake-ups alone (the 0 ms timer that times
// them a second way costs a timer event a pass, which the CPU share would count);
// --full-log fills the log before the
// unpaced runs, which tells the log's own bounded growth apart from a leak.
// Exit status: 0 when every run succeeded and the targets were met, 1 when a run failed, 2 when
// a target was missed.
#include <sys/resource.h>
#include <time.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/resource.h"
#include "serial/clock.h"
#include "serial/posix_port_driver.h"
#include "serial/protocol.h"
#include "support/sim_process.h"
#include "ui/qt/file_chooser.h"
#include "ui/qt/updater_dlg.h"

namespace {

constexpr double kGapTargetMs = 25.0;
constexpr double kCpuTargetPercent = 1.0;
constexpr double kRatioTarget = 1.01;
// Resident-size growth from the second run to the last that still counts as none: allocator
// and font-cache noise stays well below it, a per-run leak of a whole image does not.
constexpr long kGrowthLimitKb = 256;

std::int64_t NowNs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double Ms(std::int64_t ns) {
  return static_cast<double>(ns) / 1e6;
}

// A click on "Programar" searches COM1 to COM3 before the download: COM1 and COM2 are absent,
// so each costs only the pause before its open; the device answers on COM3, the third port tried.
constexpr double kSearchToCom3 = updater::protocol::SearchBoundSeconds(3);

// The line-rate bound of a click: the download's and the search's before it.
double BoundSeconds(int size) {
  return updater::protocol::LineBoundSeconds(static_cast<std::uint32_t>(size)) + kSearchToCom3;
}

// A "kB" field of /proc/self/status (VmRSS, VmHWM), or -1.
long StatusKb(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr)
    return -1;
  char line[256];
  long value = -1;
  const std::size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      value = std::atol(line + n + 1);
      break;
    }
  }
  std::fclose(f);
  return value;
}

// Starts VmHWM again from the current resident size, so that it is the peak of what follows.
bool ResetPeakRss() {
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (f == nullptr)
    return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

int OpenDescriptors() {
  return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                              .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)
                              .size());
}

// Busy and total jiffies of all cores, from /proc/stat: how loaded the machine was meanwhile.
struct CpuTimes {
  unsigned long long busy = 0;
  unsigned long long total = 0;
};

CpuTimes MachineTimes() {
  CpuTimes t;
  std::FILE* f = std::fopen("/proc/stat", "r");
  if (f == nullptr)
    return t;
  unsigned long long v[8] = {};
  if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                  &v[4], &v[5], &v[6], &v[7]) == 8) {
    for (unsigned long long x : v)
      t.total += x;
    t.busy = t.total - v[3] - v[4];  // less idle and iowait
  }
  std::fclose(f);
  return t;
}

double BusyPercent(const CpuTimes& a, const CpuTimes& b) {
  const unsigned long long total = b.total - a.total;
  return total == 0 ? 0.0
                    : 100.0 * static_cast<double>(b.busy - a.busy) / static_cast<double>(total);
}

std::string LoadAverage() {
  char text[64] = {};
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(text, sizeof text, f) == nullptr)
      text[0] = '\0';
    std::fclose(f);
  }
  std::string s(text);
  // The three averages only.
  std::size_t cut = 0;
  for (int fields = 0; cut < s.size() && fields < 3; ++cut)
    if (s[cut] == ' ')
      ++fields;
  return s.substr(0, cut > 0 ? cut - 1 : 0);
}

// The last log entry in the first `length` bytes of the log, without its line ends.
std::string LastLogEntry(const char* log, std::size_t length) {
  std::string text(log, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  const std::size_t cut = text.find_last_of("\r\n");
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

// Where a run stands: the log's length, the image bytes sent and the device's bytes received.
struct RunPoint {
  std::size_t log = 0;
  std::uint32_t sent = 0;
  std::uint32_t received = 0;
};

// Intervals between successive passes of the event loop while armed, in a fixed histogram of
// 0.1 ms bins (the last bin holds everything longer). Arming and disarming count as passes, so
// a stretch without any pass at the start or end of a run is not missed. With a probe, the first
// gaps of at least `traceMs` are kept with where the run stood at both ends.
class PassGaps {
 public:
  struct Traced {
    double atS;
    double gapMs;
    RunPoint from;
    RunPoint to;
  };
  static constexpr std::size_t kTraced = 32;

  void Trace(std::function<RunPoint()> probe, double traceMs) {
    probe_ = std::move(probe);
    traceNs_ = static_cast<std::int64_t>(traceMs * 1e6);
  }
  void Arm() {
    bins_.fill(0);
    count_ = 0;
    max_ = 0;
    maxAt_ = 0;
    traced_ = 0;
    start_ = last_ = NowNs(CLOCK_MONOTONIC);
    if (probe_)
      lastPoint_ = probe_();
    armed_ = true;
  }
  void Disarm() {
    Mark();
    armed_ = false;
  }
  void Mark() {
    if (!armed_)
      return;
    const std::int64_t now = NowNs(CLOCK_MONOTONIC);
    const std::int64_t gap = now - last_;
    last_ = now;
    ++count_;
    if (gap > max_) {
      max_ = gap;
      maxAt_ = now - start_;
    }
    std::int64_t bin = gap / kBinNs;
    if (bin >= kBins)
      bin = kBins - 1;
    ++bins_[static_cast<std::size_t>(bin)];
    if (probe_) {
      const RunPoint point = probe_();
      if (gap >= traceNs_ && traced_ < kTraced)
        trace_[traced_++] = {static_cast<double>(now - start_) / 1e9, Ms(gap), lastPoint_, point};
      lastPoint_ = point;
    }
  }

  long passes() const { return count_; }
  double max_ms() const { return Ms(max_); }
  double max_at_s() const { return static_cast<double>(maxAt_) / 1e9; }
  // Upper edge of the bin holding the `fraction` quantile.
  double QuantileMs(double fraction) const {
    const auto wanted = static_cast<long>(fraction * static_cast<double>(count_));
    long seen = 0;
    for (std::size_t i = 0; i < bins_.size(); ++i) {
      seen += bins_[i];
      if (seen > wanted)
        return Ms(static_cast<std::int64_t>(i + 1) * kBinNs);
    }
    return max_ms();
  }
  // Passes that followed a gap of at least `ms`.
  long CountAtLeast(double ms) const {
    long n = 0;
    for (std::size_t i = static_cast<std::size_t>(ms * 1e6 / kBinNs); i < bins_.size(); ++i)
      n += bins_[i];
    return n;
  }
  std::size_t traced() const { return traced_; }
  const Traced& traced(std::size_t i) const { return trace_[i]; }

 private:
  static constexpr std::int64_t kBinNs = 100000;
  static constexpr std::int64_t kBins = 2000;
  std::array<long, kBins> bins_{};
  long count_ = 0;
  std::int64_t start_ = 0;
  std::int64_t last_ = 0;
  std::int64_t max_ = 0;
  std::int64_t maxAt_ = 0;
  bool armed_ = false;
  std::function<RunPoint()> probe_;
  std::int64_t traceNs_ = 0;
  RunPoint lastPoint_;
  std::array<Traced, kTraced> trace_{};
  std::size_t traced_ = 0;
};

// Answers the file dialog with the bench's image.
class FixedChooser final : public updater::FileChooser {
 public:
  explicit FixedChooser(QString path) : path_(std::move(path)) {}
  bool Choose(char* path, std::size_t capacity) override {
    return updater::QtFileChooser::CopyPath(path_, path, capacity);
  }

 private:
  QString path_;
};

// Bytes the device accepts: the first is not a zero, so the image is not empty text either.
QString WriteImage(const QTemporaryDir& dir, int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(1 + (i * 7 + (i >> 8)) % 255);
  const QString path = dir.filePath(QStringLiteral("IMAGEN.QMZ"));
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
    return QString();
  return path;
}

// The window on the simulator's terminal as COM3, with the other ports absent.
class BenchWindow {
 public:
  bool Open(const std::string& pty, int size) {
    if (!dir_.isValid())
      return false;
    for (int i = 0; i < 4; ++i)
      paths_[static_cast<std::size_t>(i)] =
          i == 2 ? pty
                 : QFile::encodeName(dir_.filePath(QStringLiteral("absent-COM%1").arg(i + 1)))
                       .toStdString();
    const QString image = WriteImage(dir_, size);
    if (image.isEmpty())
      return false;
    driver_ = std::make_unique<updater::PosixPortDriver>(updater::PosixPortDriver::PathTable{
        paths_[0].c_str(), paths_[1].c_str(), paths_[2].c_str(), paths_[3].c_str()});
    chooser_ = std::make_unique<FixedChooser>(image);
    dlg_ = std::make_unique<CUpdaterDlg>(*driver_, clock_, *chooser_);
    dlg_->show();
    QElapsedTimer waited;
    waited.start();
    while (dlg_->windowHandle() == nullptr || !dlg_->windowHandle()->isExposed()) {
      if (waited.elapsed() > 10000)
        return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    dlg_->OnOpenFile();
    return Program()->isEnabled();
  }

  // One click on "Programar"; returns once the run is over, true when it ended well.
  bool Run() {
    Program()->click();
    return Info() == QStringLiteral("Descarga correcta\n");
  }

  // Lets the window sit at its event loop for a while, as between an operator's runs.
  static void Idle(int ms) {
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < ms)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  QString Info() const {
    const auto* label = qobject_cast<QLabel*>(dlg_->GetDlgItem(IDC_INFO));
    return label != nullptr ? label->text() : QString();
  }
  std::size_t LogLength() const { return dlg_->core().m_report.log_length(); }
  RunPoint Where() const {
    const updater::UpdaterCore& core = dlg_->core();
    return {core.m_report.log_length(), core.m_download.m_nPosition, core.m_download.m_nReceived};
  }
  const char* Log() const { return dlg_->core().m_report.m_log; }
  // Fills the log with filler entries to within one entry of its capacity, so that from the
  // first run on each run drops as much old text as it adds.
  void FillLog() {
    updater::Reporter& report = dlg_->core().m_report;
    std::size_t length = report.m_nLogLength;
    for (int n = 0;; ++n) {
      char entry[32];
      const int written = std::snprintf(entry, sizeof entry, "relleno %06d\r\n", n);
      const auto size = static_cast<std::size_t>(written);
      if (length + size + 1 > updater::Reporter::kLogSize)
        break;
      std::memcpy(report.m_log + length, entry, size);
      length += size;
    }
    report.m_log[length] = '\0';
    report.m_nLogLength = length;
  }

 private:
  QPushButton* Program() const { return qobject_cast<QPushButton*>(dlg_->GetDlgItem(IDC_PROGRAM)); }

  QTemporaryDir dir_;
  std::array<std::string, 4> paths_;
  std::unique_ptr<updater::PosixPortDriver> driver_;
  updater::SystemClock clock_;
  std::unique_ptr<FixedChooser> chooser_;
  // Last: it unhooks itself from the clocks above when it goes.
  std::unique_ptr<CUpdaterDlg> dlg_;
};

struct Options {
  int size = 4096;
  int runs = 20;
  int leakSize = 300;
  int traceMs = 0;
  bool fullLog = false;
  bool timing = true;
  bool leak = true;
  bool timer = true;
  std::string sim = SIM47913_PATH;
};

// 0 on success and targets met, 1 when the run failed, 2 when a target was missed.
int TimingRun(const Options& options) {
  std::printf("== window during one paced run: %d bytes at 9600 baud, platform %s\n", options.size,
              qPrintable(QGuiApplication::platformName()));
  support::SimProcess device;
  if (!device.Start(options.sim, {"--timeout", "600"})) {
    std::fprintf(stderr, "cannot start %s\n", options.sim.c_str());
    return 1;
  }
  BenchWindow window;
  if (!window.Open(device.path(), options.size)) {
    std::fprintf(stderr, "the window did not open or load the image\n");
    return 1;
  }
  BenchWindow::Idle(200);

  // Two views of the loop's passes: the dispatcher's wake-ups, and a 0 ms timer, which fires
  // once a pass. The timer only runs during the run, where every pass is a pump.
  PassGaps dispatcherGaps, timerGaps;
  const QMetaObject::Connection awake =
      QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                       [&] { dispatcherGaps.Mark(); });
  if (options.traceMs > 0)
    dispatcherGaps.Trace([&window] { return window.Where(); }, options.traceMs);
  QTimer zero;
  zero.setInterval(0);
  QObject::connect(&zero, &QTimer::timeout, [&] { timerGaps.Mark(); });

  const std::string loadBefore = LoadAverage();
  const long rssBefore = StatusKb("VmRSS");
  const bool peakReset = ResetPeakRss();
  const CpuTimes machine0 = MachineTimes();
  rusage usage0{};
  getrusage(RUSAGE_SELF, &usage0);
  if (options.timer)
    zero.start();
  dispatcherGaps.Arm();
  timerGaps.Arm();
  const std::int64_t wall0 = NowNs(CLOCK_MONOTONIC);
  const std::int64_t cpu0 = NowNs(CLOCK_PROCESS_CPUTIME_ID);

  const bool ok = window.Run();

  const std::int64_t cpu = NowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
  const std::int64_t wall = NowNs(CLOCK_MONOTONIC) - wall0;
  dispatcherGaps.Disarm();
  timerGaps.Disarm();
  zero.stop();
  QObject::disconnect(awake);
  rusage usage1{};
  getrusage(RUSAGE_SELF, &usage1);
  const CpuTimes machine1 = MachineTimes();
  const long peak = StatusKb("VmHWM");
  const long rssAfter = StatusKb("VmRSS");
  const int simStatus = device.Wait(10000);

  const double cpuShare = 100.0 * static_cast<double>(cpu) / static_cast<double>(wall);
  const double bound = BoundSeconds(options.size);
  const double ratio = static_cast<double>(wall) / 1e9 / bound;
  const double gap = options.timer && timerGaps.max_ms() > dispatcherGaps.max_ms()
                         ? timerGaps.max_ms()
                         : dispatcherGaps.max_ms();
  std::printf("  result            %s (simulator exit %d)\n", qPrintable(window.Info().trimmed()),
              simStatus);
  std::printf("  wall              %.3f s, click to end of run\n", static_cast<double>(wall) / 1e9);
  std::printf("  ratio             %.4f to the line-rate bound of %.3f s\n", ratio, bound);
  std::printf("  passes            %ld (dispatcher wake-ups), %ld (0 ms timer)\n",
              dispatcherGaps.passes(), timerGaps.passes());
  if (options.timer)
    std::printf("  longest gap       %.2f ms at %.2f s (dispatcher), %.2f ms at %.2f s (timer)\n",
                dispatcherGaps.max_ms(), dispatcherGaps.max_at_s(), timerGaps.max_ms(),
                timerGaps.max_at_s());
  else
    std::printf("  longest gap       %.2f ms at %.2f s (dispatcher)\n", dispatcherGaps.max_ms(),
                dispatcherGaps.max_at_s());
  std::printf("  gap median / p99  %.1f / %.1f ms (dispatcher); %ld gaps of 30 ms or more\n",
              dispatcherGaps.QuantileMs(0.5), dispatcherGaps.QuantileMs(0.99),
              dispatcherGaps.CountAtLeast(30.0));
  std::printf("  cpu               %.3f s (user %.3f, system %.3f) = %.2f %% of wall\n",
              static_cast<double>(cpu) / 1e9,
              static_cast<double>(usage1.ru_utime.tv_sec - usage0.ru_utime.tv_sec) +
                  static_cast<double>(usage1.ru_utime.tv_usec - usage0.ru_utime.tv_usec) / 1e6,
              static_cast<double>(usage1.ru_stime.tv_sec - usage0.ru_stime.tv_sec) +
                  static_cast<double>(usage1.ru_stime.tv_usec - usage0.ru_stime.tv_usec) / 1e6,
              cpuShare);
  std::printf("  context switches  %ld voluntary, %ld involuntary\n",
              usage1.ru_nvcsw - usage0.ru_nvcsw, usage1.ru_nivcsw - usage0.ru_nivcsw);
  std::printf("  resident          %ld kB before, %ld kB peak during the run%s, %ld kB after\n",
              rssBefore, peak, peakReset ? "" : " (peak since start: could not reset)", rssAfter);
  std::printf("  machine           %.0f %% busy across %d cores during the run; load %s -> %s\n",
              BusyPercent(machine0, machine1), QThread::idealThreadCount(), loadBefore.c_str(),
              LoadAverage().c_str());
  for (std::size_t i = 0; i < dispatcherGaps.traced(); ++i) {
    const PassGaps::Traced& t = dispatcherGaps.traced(i);
    std::printf(
        "  gap %6.2f ms ending at %6.3f s: sent %u -> %u, received %u -> %u, after \"%s\"\n",
        t.gapMs, t.atS, t.from.sent, t.to.sent, t.from.received, t.to.received,
        LastLogEntry(window.Log(), t.from.log).c_str());
  }
  if (!ok || simStatus != 0) {
    std::printf("  verdict           FAILED RUN\n");
    return 1;
  }
  const bool gapOk = gap < kGapTargetMs;
  const bool cpuOk = cpuShare <= kCpuTargetPercent;
  const bool ratioOk = ratio <= kRatioTarget;
  std::printf(
      "  verdict           ratio %.4f %s (<= %.2f), gap %.2f ms %s (< %.0f ms), cpu %.2f %% %s "
      "(<= %.1f %%)\n",
      ratio, ratioOk ? "ok" : "MISSED", kRatioTarget, gap, gapOk ? "ok" : "MISSED", kGapTargetMs,
      cpuShare, cpuOk ? "ok" : "MISSED", kCpuTargetPercent);
  return gapOk && cpuOk && ratioOk ? 0 : 2;
}

int LeakRuns(const Options& options) {
  std::printf("== resident size over %d unpaced runs of %d bytes in one window%s\n", options.runs,
              options.leakSize, options.fullLog ? ", the log filled beforehand" : "");
  support::SimProcess device;
  if (!device.Start(options.sim, {"--no-pace", "--keep-serving", "--timeout", "3600"})) {
    std::fprintf(stderr, "cannot start %s\n", options.sim.c_str());
    return 1;
  }
  BenchWindow window;
  if (!window.Open(device.path(), options.leakSize)) {
    std::fprintf(stderr, "the window did not open or load the image\n");
    return 1;
  }
  if (options.fullLog)
    window.FillLog();
  BenchWindow::Idle(200);
  const long rssOpen = StatusKb("VmRSS");
  const int fdsOpen = OpenDescriptors();
  std::printf("  opened: %ld kB resident, %d descriptors\n", rssOpen, fdsOpen);
  std::printf("  %4s %10s %9s %5s %9s %8s\n", "run", "rss kB", "delta kB", "fds", "log bytes",
              "wall s");
  std::vector<long> rss;
  long previous = rssOpen;
  const std::string loadBefore = LoadAverage();
  const CpuTimes machine0 = MachineTimes();
  for (int run = 1; run <= options.runs; ++run) {
    const std::int64_t wall0 = NowNs(CLOCK_MONOTONIC);
    const bool ok = window.Run();
    const double wall = static_cast<double>(NowNs(CLOCK_MONOTONIC) - wall0) / 1e9;
    BenchWindow::Idle(100);
    const long now = StatusKb("VmRSS");
    const int fds = OpenDescriptors();
    std::printf("  %4d %10ld %+9ld %5d %9zu %8.2f%s\n", run, now, now - previous, fds,
                window.LogLength(), wall, ok ? "" : "  FAILED");
    std::fflush(stdout);
    if (!ok) {
      std::printf("  status line: %s\n", qPrintable(window.Info().trimmed()));
      return 1;
    }
    if (fds != fdsOpen) {
      std::printf("  descriptors changed: %d after opening, %d now\n", fdsOpen, fds);
      return 1;
    }
    rss.push_back(now);
    previous = now;
  }
  std::printf("  machine: %.0f %% busy across %d cores; load %s -> %s\n",
              BusyPercent(machine0, MachineTimes()), QThread::idealThreadCount(),
              loadBefore.c_str(), LoadAverage().c_str());
  if (rss.size() < 3) {
    std::printf("  too few runs to judge growth\n");
    return 0;
  }
  // The first run warms caches (fonts, the log view); growth is judged from the second on, by
  // the total and by a least-squares slope.
  const long growth = rss.back() - rss[1];
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(rss.size() - 1);
  for (std::size_t i = 1; i < rss.size(); ++i) {
    const auto x = static_cast<double>(i);
    const auto y = static_cast<double>(rss[i]);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const long peak = StatusKb("VmHWM");
  const bool grows = growth > kGrowthLimitKb;
  std::printf("  growth run 2 -> run %zu: %+ld kB (slope %+.1f kB a run); peak %ld kB\n",
              rss.size(), growth, slope, peak);
  std::printf("  verdict: %s (limit %ld kB)\n", grows ? "GROWS" : "no growth", kGrowthLimitKb);
  return grows ? 2 : 0;
}

bool ParseInt(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high)
    return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Line by line, so that a piped or logged run shows each figure as it comes.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);

  Options options;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    bool ok = true;
    if (std::strcmp(argv[i], "--no-timing") == 0)
      options.timing = false;
    else if (std::strcmp(argv[i], "--no-timer") == 0)
      options.timer = false;
    else if (std::strcmp(argv[i], "--no-leak") == 0)
      options.leak = false;
    else if (std::strcmp(argv[i], "--size") == 0 && hasValue)
      ok = ParseInt(argv[++i], 1, 65536, options.size);
    else if (std::strcmp(argv[i], "--leak-size") == 0 && hasValue)
      ok = ParseInt(argv[++i], 1, 65536, options.leakSize);
    else if (std::strcmp(argv[i], "--full-log") == 0)
      options.fullLog = true;
    else if (std::strcmp(argv[i], "--trace-gaps") == 0 && hasValue)
      ok = ParseInt(argv[++i], 1, 10000, options.traceMs);
    else if (std::strcmp(argv[i], "--runs") == 0 && hasValue)
      ok = ParseInt(argv[++i], 1, 10000, options.runs);
    else if (std::strcmp(argv[i], "--sim") == 0 && hasValue)
      options.sim = argv[++i];
    else
      ok = false;
    if (!ok) {
      std::fprintf(stderr,
                   "usage: window_bench [--size BYTES] [--runs N] [--leak-size BYTES] "
                   "[--no-timing] [--no-leak] [--trace-gaps MS] [--full-log] [--no-timer] "
                   "[--sim PATH]\n");
      return 1;
    }
  }

  int status = 0;
  if (options.timing)
    status = TimingRun(options);
  if (options.leak && status != 1) {
    const int leak = LeakRuns(options);
    if (leak > status)
      status = leak;
  }
  return status;
}
