// Programming runs under Wine against the simulator paced at 9600 baud on COM3
// (scripts/bench-windows sets the prefix up and starts the simulator with --trace-writes), first
// through the native window, then through the core alone with the window's pump (no displays):
// - the ratio of each download's wall time to its line-rate bound;
// - the time from a byte's arrival (the simulator's write, read from its trace) to the return of
//   the driver's ReadByte, for the bytes that arrived while the program was waiting for them, and
//   where the time of the late ones went (the driver's wait, the window's pump, the rest);
// - per block, how much longer than the line the program took to write it, and how soon it
//   noticed the reply that lets it write the next;
// - the main thread's wake-ups per second while it waits on a silent line;
// - the process's CPU share over each click (Wine's own server, a process of its own, not
//   counted).
// The window is the program's own CUpdaterDlg; the driver and the clock are the program's, seen
// through thin wrappers that time every call.
// Usage: win32_wait_bench --trace FILE [--size BYTES] [--runs N] [--late-ms MS] [--window-only]
//   --window-only: the runs through the window and nothing else (no core series, no silent line).
//   FILE: the simulator's trace as this program sees it (Z:\...). UPDATER_UNIX_PID: the process's
//   Linux pid, for the wake-up count from /proc (skipped without it).
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "null_displays.h"
#include "serial/clock.h"
#include "serial/protocol.h"
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
  void ExpectBytes(updater::PortHandle port, std::uint32_t count) override {
    inner_.ExpectBytes(port, count);
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
  std::uint32_t WaitSliceMs() override { return inner_.WaitSliceMs(); }

 private:
  static std::uint32_t Hook(void* self) {
    Timed t(Kind::kPump);
    return CUpdaterDlg::PumpHook(static_cast<TimedClock*>(self)->dlg_);
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

// The process's user and kernel time so far, in seconds.
double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
    return 0;
  const auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

struct Run {
  double wall = 0;
  double bound = 0;
  double cpuShare = 0;        // percent of one core over the whole click
  double spent[kKinds] = {};  // ms in each kind of call during the download
  bool ok = false;
};

// Times one click: the download runs from the pause that starts it (the first sleep after the
// probe's reply) to the port's close, as download_bench times Downloader::Download on Linux.
Run TimeRun(std::size_t first, std::size_t last, std::uint32_t size, int announcements, bool ok) {
  Run run;
  run.ok = ok;
  double start = 0;
  double end = 0;
  bool probed = false;
  for (std::size_t i = first; i < last; ++i) {
    const Event& e = g_events[i];
    if (e.kind == Kind::kRead && e.value >= 0)
      probed = true;
    if (probed && start == 0 && e.kind == Kind::kSleep)
      start = e.begin;
    if (e.kind == Kind::kClose)
      end = e.begin;
  }
  for (std::size_t i = first; i < last; ++i) {
    const Event& e = g_events[i];
    if (e.begin >= start && e.end <= end)
      run.spent[static_cast<int>(e.kind)] += e.end - e.begin;
  }
  // Timed from the download's start, as download_bench: the search before it is left out.
  run.bound = updater::protocol::LineBoundSeconds(size, static_cast<std::uint32_t>(announcements));
  run.wall = (end - start) / 1000.0;
  return run;
}

// The events of one series of runs and what they show.
struct Series {
  const char* label = "";
  std::size_t first = 0;  // events
  std::size_t last = 0;
  std::vector<Run> runs;
};

constexpr double kByteMs = updater::protocol::LineSeconds(1) * 1000.0;

void Report(const Series& series, const std::vector<double>& arrivals, double lateMs) {
  // The n-th byte the simulator wrote is the n-th byte ReadByte returned.
  std::size_t n = 0;
  for (std::size_t i = 0; i < series.first; ++i)
    n += g_events[i].kind == Kind::kRead && g_events[i].value >= 0;
  std::vector<double> waited;       // bytes that arrived while the program waited for them
  std::vector<double> queued;       // bytes already there when it began to look
  std::vector<double> writeExcess;  // a block's writes beyond the line: first write to its '2'
  std::vector<double> notice;       // a reply's arrival to its return, before a block
  double excess[kKinds] = {};
  double excessGap = 0;
  int late = 0;
  double ready = 0;  // when the program began to look for the next byte
  bool looking = false;
  std::uint32_t writes = 0;  // writes since the last byte read
  double firstWrite = 0;
  double lastArrival = 0;
  double lastReturn = 0;
  for (std::size_t i = series.first; i < series.last && n < arrivals.size(); ++i) {
    const Event& e = g_events[i];
    if (e.kind == Kind::kWrite) {
      if (writes++ == 0) {
        firstWrite = e.begin;
        if (lastReturn > 0)
          notice.push_back(lastReturn - lastArrival);
      }
    }
    if (e.kind == Kind::kWrite || e.kind == Kind::kSleep || e.kind == Kind::kClose ||
        e.kind == Kind::kOpen) {
      looking = false;
      lastReturn = 0;
      continue;
    }
    if (e.kind == Kind::kClear && !looking) {
      looking = true;
      ready = e.begin;
    }
    if (e.kind != Kind::kRead || e.value < 0)
      continue;
    looking = false;
    const double arrival = arrivals[n++];
    // A whole block's bytes and its '2' on the line take one byte time more than the block.
    if (writes == updater::protocol::kBlockSize)
      writeExcess.push_back(arrival - firstWrite - (updater::protocol::kBlockSize + 1) * kByteMs);
    writes = 0;
    lastArrival = arrival;
    lastReturn = e.end;
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
    for (std::size_t j = i + 1; j-- > series.first;) {
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

  std::vector<double> ratios, shares;
  for (const Run& run : series.runs) {
    ratios.push_back(run.wall / run.bound);
    shares.push_back(run.cpuShare);
  }
  const double count = static_cast<double>(series.runs.size());
  std::printf("== %s: %zu downloads\n", series.label, series.runs.size());
  std::printf("  ratio to the line-rate bound: median %.4f, range %.4f..%.4f (target <= 1.02)\n",
              Percentile(ratios, 0.5), Percentile(ratios, 0), Percentile(ratios, 1));
  std::printf("  cpu share of the process: median %.2f %%, range %.2f..%.2f %%\n",
              Percentile(shares, 0.5), Percentile(shares, 0), Percentile(shares, 1));
  std::printf("  arrival to ReadByte's return, %zu bytes that came while the program waited:\n",
              waited.size());
  std::printf(
      "    median %.3f ms, p99 %.3f ms, worst %.3f ms (target < 5 ms); %d of %.0f ms or "
      "more\n",
      Percentile(waited, 0.5), Percentile(waited, 0.99), Percentile(waited, 1), late, lateMs);
  std::printf(
      "  %zu bytes already there when it began to look: median %.3f ms, worst %.3f ms "
      "to the return\n",
      queued.size(), Percentile(queued, 0.5), Percentile(queued, 1));
  if (late > 0) {
    std::printf("  where the late bytes' time went (ms in total):\n");
    for (int k = 0; k < kKinds; ++k) {
      if (excess[k] > 0.05)
        std::printf("    %-14s %9.1f\n", kKindNames[k], excess[k]);
    }
    std::printf("    %-14s %9.1f\n", "between calls", excessGap);
  }
  double sum = 0;
  for (double ms : writeExcess)
    sum += ms;
  std::printf(
      "  per block (%zu): writing it took longer than the line by median %.2f ms, mean "
      "%.2f ms, most %.2f ms;\n",
      writeExcess.size(), Percentile(writeExcess, 0.5),
      writeExcess.empty() ? 0.0 : sum / static_cast<double>(writeExcess.size()),
      Percentile(writeExcess, 1));
  std::printf(
      "    the reply before it was returned median %.3f ms, most %.3f ms after its "
      "arrival\n",
      Percentile(notice, 0.5), Percentile(notice, 1));
  std::printf("  where the downloads' time went (ms a run; a sleep's pumps are in both):\n");
  for (int k = 0; k < kKinds; ++k) {
    double total = 0;
    for (const Run& run : series.runs)
      total += run.spent[k];
    if (total > 0.5 * count)
      std::printf("    %-14s %9.1f\n", kKindNames[k], total / count);
  }
  std::vector<double> pumpMs;
  for (std::size_t i = series.first; i < series.last; ++i) {
    if (g_events[i].kind == Kind::kPump)
      pumpMs.push_back(g_events[i].end - g_events[i].begin);
  }
  const auto slow = std::count_if(pumpMs.begin(), pumpMs.end(), [](double ms) { return ms >= 10; });
  std::printf(
      "  the window's pump: %zu passes, median %.3f ms, p99 %.3f ms, longest %.3f ms; %d "
      "of 10 ms or more\n",
      pumpMs.size(), Percentile(pumpMs, 0.5), Percentile(pumpMs, 0.99), Percentile(pumpMs, 1),
      static_cast<int>(slow));
}

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

// Runs `click` `runs` times and times each run; `core` is the core the click runs.
template <typename Click>
Series RunSeries(const char* label, int runs, std::uint32_t size, updater::UpdaterCore& core,
                 HWND hwnd, Click click) {
  Series series;
  series.label = label;
  series.first = g_events.size();
  std::printf("%s\n%-4s %9s %9s %8s %7s\n", label, "run", "wall s", "bound s", "ratio", "cpu %");
  for (int r = 0; r < runs; ++r) {
    const std::size_t first = g_events.size();
    const double cpu0 = ProcessCpuSeconds();
    const double wall0 = NowMs();
    click();
    const double clickMs = NowMs() - wall0;
    const double cpu = ProcessCpuSeconds() - cpu0;
    Run run = TimeRun(first, g_events.size(), size, core.m_download.announcements(),
                      core.m_download.succeeded());
    run.cpuShare = clickMs > 0 ? 100.0 * cpu * 1000.0 / clickMs : 0;
    std::printf("%-4d %9.3f %9.3f %8.4f %7.2f%s\n", r + 1, run.wall, run.bound,
                run.wall / run.bound, run.cpuShare, run.ok ? "" : "  FAILED");
    std::fflush(stdout);
    series.runs.push_back(run);
    Drain(hwnd, 200);
  }
  series.last = g_events.size();
  return series;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t size = 4000;
  int runs = 5;
  double lateMs = 5;
  const char* tracePath = nullptr;
  bool windowOnly = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window-only") == 0) {
      windowOnly = true;
      continue;
    }
    if (i + 1 >= argc)
      break;
    if (std::strcmp(argv[i], "--size") == 0)
      size = static_cast<std::uint32_t>(std::atol(argv[++i]));
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--late-ms") == 0)
      lateMs = std::atof(argv[++i]);
    else if (std::strcmp(argv[i], "--trace") == 0)
      tracePath = argv[++i];
  }
  if (tracePath == nullptr || runs < 1) {
    std::fprintf(stderr,
                 "usage: win32_wait_bench --trace FILE [--size N] [--runs N] [--window-only]\n");
    return 1;
  }
  g_events.reserve(1u << 21);

  updater::Win32PortDriver ports;
  TimedDriver driver(ports);
  TimedClock clock;
  const std::string image = WriteImage(size);
  FixedChooser chooser(image);
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

  // What the window's displays cost a byte sent under this system: a step of the progress bar.
  {
    const double t0 = NowMs();
    for (int i = 0; i < 200; ++i)
      dlg.StepProgress();
    std::printf("the window's progress step: %.3f ms each (a byte takes %.3f ms on the line)\n",
                (NowMs() - t0) / 200, kByteMs);
    dlg.SetProgressPos(0);
  }
  const Series window = RunSeries("through the window", runs, size, dlg.core(), hwnd, [&] {
    SendMessageA(GetDlgItem(hwnd, IDC_PROGRAM), BM_CLICK, 0, 0);
  });
  // The same runs without the displays: the core with the window's pump between its waits.
  bench::NullDisplays silent;
  updater::UpdaterCore core(silent, driver, clock);
  // The window's image (LoadImage is a macro of windows.h here).
  std::memcpy(core.m_download.m_image, dlg.core().m_download.m_image, size);
  core.m_download.m_nFileLength = dlg.core().m_download.m_nFileLength;
  const Series bare = windowOnly ? Series{}
                                 : RunSeries("the core with the window's pump, no displays", runs,
                                             size, core, hwnd, [&] { core.OnProgram(); });

  // A silent line: COM3 opened as discovery opens it, then one read that the simulator (waiting
  // for a probe) never answers; through the window's link and pump, then through a link whose
  // clock has no pump, so that only the driver's waits are left.
  Silence pumped, alone;
  updater::SystemClock bareClock;
  updater::SerialLink bareLink(driver, bareClock, dlg.core().m_report);
  if (!windowOnly) {
    pumped = WaitOnASilentLine(dlg.core().m_link);
    alone = WaitOnASilentLine(bareLink);
  }
  DestroyWindow(hwnd);

  const std::vector<double> arrivals = ReadTrace(tracePath);
  std::size_t reads = 0;
  for (const Event& e : g_events)
    reads += e.kind == Kind::kRead && e.value >= 0;
  if (arrivals.size() != reads)
    std::printf("trace: %zu bytes written, %zu read: latencies unreliable\n", arrivals.size(),
                reads);
  std::printf("== downloads of %u bytes\n", size);
  Report(window, arrivals, lateMs);
  if (!windowOnly) {
    Report(bare, arrivals, lateMs);
    PrintSilence("through the window (its pump's calls to the Wine server count too)", pumped);
    PrintSilence("the driver alone (no pump)", alone);
  }

  bool ok = true;
  for (const Series* series : {&window, &bare}) {
    for (const Run& run : series->runs)
      ok = ok && run.ok;
  }
  return ok ? 0 : 1;
}
