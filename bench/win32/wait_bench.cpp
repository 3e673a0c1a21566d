// The native window's programming runs under Wine against the simulator paced at 9600 baud on
// COM3 (scripts/bench-windows sets the prefix up and starts the simulator with --trace-writes):
// - the ratio of each download's wall time to its line-rate bound;
// - the time from a byte's arrival (the simulator's write, read from its trace) to the return of
//   the driver's ReadByte, for the bytes that arrived while the window was waiting for them, and
//   where the time of the late ones went (the driver's wait, the window's pump, the rest);
// - the main thread's wake-ups per second while the window waits on a silent line.
// The window is the program's own CUpdaterDlg; the driver and the clock are the program's, seen
// through thin wrappers that time every call.
// Usage: win32_wait_bench --trace FILE [--size BYTES] [--runs N] [--late-ms MS]
//   FILE: the simulator's trace as this program sees it (Z:\...). UPDATER_UNIX_PID: the process's
//   Linux pid, for the wake-up count from /proc (skipped without it).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "serial/clock.h"
#include "serial/win32_port_driver.h"
#include "ui/win32/resource.h"
#include "ui/win32/updater_dlg.h"

namespace {

// Wine's performance counter is Linux's CLOCK_MONOTONIC_RAW in 100 ns units, the clock of the
// simulator's trace; in milliseconds here.
double NowMs() {
  static const double perMs = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / perMs;
}

enum class Kind : std::uint8_t {
  kOpen,
  kClose,
  kClear,
  kRead,
  kWrite,
  kWaitRead,
  kWaitWrite,
  kPump,
  kSleep
};
constexpr const char* kKindNames[] = {"open",          "close",      "clear-errors",
                                      "read-byte",     "write-byte", "wait-readable",
                                      "wait-writable", "pump",       "clock-sleep"};
constexpr int kKinds = 9;

struct Event {
  double begin;
  double end;
  Kind kind;
  int value;  // the byte read (-1: none), the sleep's length, the open's success
};

std::vector<Event> g_events;

struct Timed {
  Timed(Kind kind, int value = 0) : begin_(NowMs()), kind_(kind), value_(value) {}
  ~Timed() { g_events.push_back({begin_, NowMs(), kind_, value_}); }
  double begin_;
  Kind kind_;
  int value_;
};

class TimedDriver final : public updater::PortDriver {
 public:
  explicit TimedDriver(updater::PortDriver& inner) : inner_(inner) {}
  using PortDriver::Open;
  updater::PortHandle Open(const char* name, updater::OpenError& error) override {
    Timed t(Kind::kOpen);
    const updater::PortHandle port = inner_.Open(name, error);
    t.value_ = port != updater::kInvalidPort;
    return port;
  }
  bool GetLineSettings(updater::PortHandle port, updater::LineSettings& settings) override {
    return inner_.GetLineSettings(port, settings);
  }
  bool SetLineSettings(updater::PortHandle port, const updater::LineSettings& settings) override {
    return inner_.SetLineSettings(port, settings);
  }
  bool ClearErrors(updater::PortHandle port, std::uint32_t& errors,
                   updater::ComStat& stat) override {
    Timed t(Kind::kClear);
    return inner_.ClearErrors(port, errors, stat);
  }
  bool ReadByte(updater::PortHandle port, std::uint8_t& value, std::uint32_t& moved) override {
    Timed t(Kind::kRead, -1);
    const bool ok = inner_.ReadByte(port, value, moved);
    if (ok && moved == 1)
      t.value_ = value;
    return ok;
  }
  bool WriteByte(updater::PortHandle port, std::uint8_t value, std::uint32_t& moved) override {
    Timed t(Kind::kWrite, value);
    return inner_.WriteByte(port, value, moved);
  }
  updater::WaitResult WaitReadable(updater::PortHandle port, std::uint32_t ms) override {
    Timed t(Kind::kWaitRead, static_cast<int>(ms));
    return inner_.WaitReadable(port, ms);
  }
  updater::WaitResult WaitWritable(updater::PortHandle port, std::uint32_t ms) override {
    Timed t(Kind::kWaitWrite, static_cast<int>(ms));
    return inner_.WaitWritable(port, ms);
  }
  void Close(updater::PortHandle port) override {
    Timed t(Kind::kClose);
    inner_.Close(port);
  }

 private:
  updater::PortDriver& inner_;
};

// The program's clock with the window's pump, every sleep and pump timed.
class TimedClock final : public updater::Clock {
 public:
  void Attach(CUpdaterDlg& dlg) {
    dlg_ = &dlg;
    inner_.SetPumpHook(&TimedClock::Hook, this);
  }
  std::uint32_t TickCount() override { return inner_.TickCount(); }
  void Sleep(std::uint32_t ms) override {
    Timed t(Kind::kSleep, static_cast<int>(ms));
    inner_.Sleep(ms);
  }
  void Pump() override { inner_.Pump(); }

 private:
  static void Hook(void* self) {
    Timed t(Kind::kPump);
    CUpdaterDlg::PumpHook(static_cast<TimedClock*>(self)->dlg_);
  }
  updater::SystemClock inner_;
  CUpdaterDlg* dlg_ = nullptr;
};

class FixedChooser final : public updater::FileChooser {
 public:
  explicit FixedChooser(std::string path) : path_(std::move(path)) {}
  bool Choose(char* path, std::size_t capacity) override {
    if (path_.size() >= capacity)
      return false;
    std::memcpy(path, path_.c_str(), path_.size() + 1);
    return true;
  }

 private:
  std::string path_;
};

// Text in lines: the window's hidden image view takes a long line slowly under Wine.
std::string WriteImage(std::uint32_t size) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  const std::string path = std::string(dir) + "wait_bench.qmz";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return {};
  for (std::uint32_t i = 0; i < size; ++i)
    std::fputc(i % 64 == 63 ? '\n' : 'A' + static_cast<int>(i % 26), f);
  std::fclose(f);
  return path;
}

std::vector<double> ReadTrace(const char* path) {
  std::vector<double> ms;
  FILE* f = std::fopen(path, "r");
  if (f == nullptr)
    return ms;
  long long ns = 0;
  while (std::fscanf(f, "%lld", &ns) == 1)
    ms.push_back(static_cast<double>(ns) / 1e6);
  std::fclose(f);
  return ms;
}

// The voluntary context switches of the main thread (the process's first Linux thread).
long long MainThreadSwitches() {
  const char* pid = std::getenv("UPDATER_UNIX_PID");
  if (pid == nullptr)
    return -1;
  const std::string path = std::string("Z:\\proc\\") + pid + "\\task\\" + pid + "\\status";
  FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr)
    return -1;
  char line[256];
  long long switches = -1;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "voluntary_ctxt_switches: %lld", &switches) == 1)
      break;
  }
  std::fclose(f);
  return switches;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty())
    return 0;
  std::sort(values.begin(), values.end());
  const std::size_t i = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
  return values[i];
}

void Drain(HWND hwnd, int ms) {
  const double until = NowMs() + ms;
  while (NowMs() < until) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageA(hwnd, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

struct Run {
  double ratio = 0;
  double wall = 0;
  double bound = 0;
  std::size_t firstEvent = 0;
  std::size_t lastEvent = 0;
  bool ok = false;
};

struct Silence {
  double ms = 0;
  int waits = 0;
  int pumps = 0;
  long long switches = -1;
};

Silence WaitOnASilentLine(updater::SerialLink& link) {
  Silence silence;
  if (!link.OpenPort(2))
    return silence;
  const std::size_t first = g_events.size();
  const long long before = MainThreadSwitches();
  const double t0 = NowMs();
  const std::uint8_t got = link.ReadByte();
  silence.ms = NowMs() - t0;
  const long long after = MainThreadSwitches();
  if (before >= 0 && after >= 0)
    silence.switches = after - before;
  for (std::size_t i = first; i < g_events.size(); ++i) {
    silence.waits += g_events[i].kind == Kind::kWaitRead;
    silence.pumps += g_events[i].kind == Kind::kPump;
  }
  link.ClosePort();
  if (got != updater::SerialLink::kReadTimedOut)
    std::printf("the silent line answered 0x%02X\n", got);
  return silence;
}

void PrintSilence(const char* what, const Silence& s) {
  std::printf("== a silent line, %s: one read timed out after %.1f ms\n", what, s.ms);
  std::printf("  WaitReadable calls %.1f/s, pumps %.1f/s (one slice is %u ms: %.0f/s)\n",
              s.waits * 1000.0 / s.ms, s.pumps * 1000.0 / s.ms, updater::kWaitSliceMs,
              1000.0 / updater::kWaitSliceMs);
  if (s.switches >= 0)
    std::printf("  main thread's wake-ups (voluntary context switches): %.1f/s\n",
                static_cast<double>(s.switches) * 1000.0 / s.ms);
  else
    std::printf("  main thread's wake-ups: not counted (set UPDATER_UNIX_PID)\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t size = 4000;
  int runs = 5;
  double lateMs = 5;
  const char* tracePath = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0)
      size = static_cast<std::uint32_t>(std::atol(argv[i + 1]));
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--late-ms") == 0)
      lateMs = std::atof(argv[i + 1]);
    else if (std::strcmp(argv[i], "--trace") == 0)
      tracePath = argv[i + 1];
  }
  if (tracePath == nullptr) {
    std::fprintf(stderr, "usage: win32_wait_bench --trace FILE [--size N] [--runs N]\n");
    return 1;
  }
  g_events.reserve(1u << 20);

  updater::Win32PortDriver ports;
  TimedDriver driver(ports);
  TimedClock clock;
  FixedChooser chooser(WriteImage(size));
  CUpdaterDlg dlg(driver, clock, chooser);
  clock.Attach(dlg);
  HWND hwnd = dlg.Create();
  if (hwnd == nullptr) {
    std::fprintf(stderr, "the window did not open\n");
    return 1;
  }
  ShowWindow(hwnd, SW_SHOW);
  Drain(hwnd, 300);
  SendMessageA(GetDlgItem(hwnd, IDC_OPEN), BM_CLICK, 0, 0);
  Drain(hwnd, 300);

  std::vector<Run> results;
  std::printf("%-4s %9s %9s %8s\n", "run", "wall s", "bound s", "ratio");
  for (int r = 0; r < runs; ++r) {
    Run run;
    run.firstEvent = g_events.size();
    SendMessageA(GetDlgItem(hwnd, IDC_PROGRAM), BM_CLICK, 0, 0);
    run.lastEvent = g_events.size();
    run.ok = dlg.core().m_download.succeeded();
    // The download: from the pause that starts it (the first sleep after the probe's reply) to
    // the port's close, as download_bench times Downloader::Download on Linux.
    double start = 0;
    double end = 0;
    bool probed = false;
    for (std::size_t i = run.firstEvent; i < run.lastEvent; ++i) {
      const Event& e = g_events[i];
      if (e.kind == Kind::kRead && e.value >= 0)
        probed = true;
      if (probed && start == 0 && e.kind == Kind::kSleep)
        start = e.begin;
      if (e.kind == Kind::kClose)
        end = e.begin;
    }
    const double blocks = (size + 127) / 128;
    const double announcements = dlg.core().m_download.announcements();
    const double bytes = 3 * announcements + 2.0 * size + 2 * blocks + 2;
    run.bound = bytes * 10.0 / 9600.0 + 1.010;
    run.wall = (end - start) / 1000.0;
    run.ratio = run.wall / run.bound;
    std::printf("%-4d %9.3f %9.3f %8.4f%s\n", r + 1, run.wall, run.bound, run.ratio,
                run.ok ? "" : "  FAILED");
    std::fflush(stdout);
    results.push_back(run);
    Drain(hwnd, 200);
  }

  // A silent line: COM3 opened as discovery opens it, then one read that the simulator (waiting
  // for a probe) never answers; through the window's link and pump, then through a link whose
  // clock has no pump, so that only the driver's waits are left.
  const std::size_t runsEnd = g_events.size();
  Silence pumped = WaitOnASilentLine(dlg.core().m_link);
  updater::SystemClock bareClock;
  updater::SerialLink bareLink(driver, bareClock, dlg.core().m_report);
  Silence bare = WaitOnASilentLine(bareLink);
  DestroyWindow(hwnd);

  // Arrival to return: the n-th byte the simulator wrote is the n-th byte ReadByte returned.
  const std::vector<double> arrivals = ReadTrace(tracePath);
  std::vector<double> waited;  // bytes that arrived while the window waited for them
  std::vector<double> queued;  // bytes already there when it began to look
  double excess[kKinds] = {};
  double excessGap = 0;
  int late = 0;
  std::size_t n = 0;
  double ready = 0;  // when the window began to look for the next byte
  bool looking = false;
  std::size_t readsTotal = 0;
  for (std::size_t i = 0; i < g_events.size(); ++i) {
    const Event& e = g_events[i];
    if (e.kind == Kind::kRead && e.value >= 0)
      ++readsTotal;
  }
  for (std::size_t i = 0; i < runsEnd; ++i) {
    const Event& e = g_events[i];
    if (e.kind == Kind::kWrite || e.kind == Kind::kSleep || e.kind == Kind::kClose ||
        e.kind == Kind::kOpen) {
      looking = false;
      continue;
    }
    if (e.kind == Kind::kClear && !looking) {
      looking = true;
      ready = e.begin;
    }
    if (e.kind != Kind::kRead || e.value < 0)
      continue;
    looking = false;
    if (n >= arrivals.size())
      break;
    const double arrival = arrivals[n++];
    if (arrival <= ready) {
      queued.push_back(e.end - ready);
      continue;
    }
    const double latency = e.end - arrival;
    waited.push_back(latency);
    if (latency < lateMs)
      continue;
    // Where the time from the arrival to the return went.
    ++late;
    double covered = 0;
    for (std::size_t j = i + 1; j-- > 0;) {
      const Event& w = g_events[j];
      if (w.end < arrival)
        break;
      if (w.kind == Kind::kSleep)
        continue;  // a sleep's pumps are events of their own
      const double part = w.end - std::max(w.begin, arrival);
      excess[static_cast<int>(w.kind)] += part;
      covered += part;
    }
    excessGap += latency - covered;
  }

  std::vector<double> ratios;
  bool allOk = true;
  for (const Run& run : results) {
    ratios.push_back(run.ratio);
    allOk = allOk && run.ok;
  }
  std::printf("== %d downloads of %u bytes through the window\n", runs, size);
  std::printf("  ratio to the line-rate bound: median %.4f, range %.4f..%.4f (target <= 1.02)\n",
              Percentile(ratios, 0.5), Percentile(ratios, 0), Percentile(ratios, 1));
  if (arrivals.size() != readsTotal)
    std::printf("  trace: %zu bytes written, %zu read: latencies unreliable\n", arrivals.size(),
                readsTotal);
  std::printf("  arrival to ReadByte's return, %zu bytes that came while the window waited:\n",
              waited.size());
  std::printf(
      "    median %.3f ms, p99 %.3f ms, worst %.3f ms (target < 2 ms); %d of %.0f ms or "
      "more\n",
      Percentile(waited, 0.5), Percentile(waited, 0.99), Percentile(waited, 1), late, lateMs);
  std::printf(
      "  %zu bytes already there when the window began to look: median %.3f ms, worst "
      "%.3f ms to the return\n",
      queued.size(), Percentile(queued, 0.5), Percentile(queued, 1));
  if (late > 0) {
    std::printf("  where the late bytes' time went (ms in total):\n");
    for (int k = 0; k < kKinds; ++k) {
      if (excess[k] > 0.05)
        std::printf("    %-14s %9.1f\n", kKindNames[k], excess[k]);
    }
    std::printf("    %-14s %9.1f\n", "between calls", excessGap);
  }
  PrintSilence("through the window (its pump's calls to the Wine server count too)", pumped);
  PrintSilence("the driver alone (no pump)", bare);
  return allOk ? 0 : 1;
}
