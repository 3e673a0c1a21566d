// Faults of a real line: the POSIX driver and clock over pseudo-terminals, against the simulator
// executable or a device played by the test.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include <cerrno>
#include <ctime>

#include "faults/pty_fixture.h"
#include "support/port_holder.h"
#include "support/pty_pair.h"

namespace faults {
namespace {

const std::vector<std::string> kNoDeviceTail = {
    "Probando COM2 ...\n", "No abierto COM2\n", "Probando COM3 ...\n",   "No abierto COM3\n",
    "Probando COM4 ...\n", "No abierto COM4\n", "No se puede conectar\n"};

struct HangUpCase {
  const char* name;
  long hangUpAfter;  // the host byte whose arrival drops the line
  std::vector<std::string> expected;
  long long pausesMs;  // the run's fixed pauses; the lost line may add well under a second
};

// The parameter base first: the sanitizers' type check rejects the large fixture before it.
class DeviceHangsUp : public ::testing::WithParamInterface<HangUpCase>, public PtyFaultTest {};

// The device drops the line at a chosen point; the run ends with the messages of that phase,
// leaves the port closed and nothing open, and the next run succeeds once a device is back on the
// same name (as an adapter plugged in again gets its udev link back).
TEST_P(DeviceHangsUp, RunEndsThePortIsFreeAndTheNextRunSucceeds) {
  const HangUpCase& c = GetParam();
  const std::string link = dir + "/COM1";
  support::SimProcess dropping;
  StartSim(dropping, {"--link", link, "--hang-up-after=" + std::to_string(c.hangUpAfter)});
  MakeCore({link.c_str(), nullptr, nullptr, nullptr});
  const auto image = LoadImage(300);
  const int descriptors = OpenDescriptorCount();

  const auto t0 = Steady::now();
  core->OnProgram();
  const long long ms = MsSince(t0);
  EXPECT_GE(ms, c.pausesMs);
  EXPECT_LT(ms, c.pausesMs + 1000) << "a wait on the lost line";
  EXPECT_EQ(LogFrom(0), c.expected);
  EXPECT_FALSE(core->m_download.succeeded());
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
  EXPECT_EQ(dropping.Wait(20000), 2);
  EXPECT_EQ(SettledDescriptorCount(descriptors), descriptors);

  support::SimProcess back;
  StartSim(back, {"--link", link, "--save", dir + "/saved.bin"});
  const std::size_t before = Log().size();
  core->OnProgram();
  ASSERT_FALSE(LogFrom(before).empty());
  EXPECT_EQ(LogFrom(before).back(), "Descarga correcta\n");
  EXPECT_EQ(back.Wait(20000), 0);
  EXPECT_EQ(SettledDescriptorCount(descriptors), descriptors);
}

const char* const kLost = "Se perdi\xF3 la conexi\xF3n con COM1\n";

std::vector<std::string> Connected(std::vector<std::string> tail) {
  std::vector<std::string> log = {"Probando COM1 ...\n", "COM1 abierto\n",
                                  "Conectado a equipo en COM1", "Inicio descarga\n"};
  log.insert(log.end(), tail.begin(), tail.end());
  return log;
}

std::vector<std::string> ProbeLost() {
  std::vector<std::string> log = {"Probando COM1 ...\n", "COM1 abierto\n", "Cerrar COM1\n"};
  log.insert(log.end(), kNoDeviceTail.begin(), kNoDeviceTail.end());
  return log;
}

// Host bytes: the probe is 1, the length 2 and 3, the image 4 to 303, the end byte 304.
INSTANTIATE_TEST_SUITE_P(
    Phases, DeviceHangsUp,
    ::testing::Values(HangUpCase{"DuringDiscovery", 1, ProbeLost(), 1100 + 1000 + 3 * 1000},
                      HangUpCase{"MidBlock", 64, Connected({kLost}), 1100 + 1000 + 10},
                      HangUpCase{"LastBlock", 280, Connected({kLost}), 1100 + 1000 + 10},
                      HangUpCase{"BeforeTheEndAcknowledgement", 304, Connected({kLost}),
                                 1100 + 1000 + 10}),
    [](const ::testing::TestParamInfo<HangUpCase>& param) { return param.param.name; });

TEST_F(PtyFaultTest, DeviceHangingUpMidEchoEndsTheRunAtOnceAsALostLine) {
  const std::string link = dir + "/COM1";
  LineDevice::Options dropping;
  // '0', '1', '2' and then 50 bytes of the first block's echo.
  dropping.hangUpAfterDeviceBytes = 3 + 50;
  LineDevice first(dropping);
  LineDevice back({});
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(back.Start());
  PointLink(link, first.path());
  MakeCore({link.c_str(), nullptr, nullptr, nullptr});
  LoadImage(300);
  const int descriptors = OpenDescriptorCount();

  const auto t0 = Steady::now();
  core->OnProgram();
  EXPECT_LT(MsSince(t0), 1100 + 1000 + 10 + 1000) << "a wait on the lost line";
  EXPECT_TRUE(first.hung_up());
  // The 51st echo byte never came: the line is gone, not the echo wrong.
  EXPECT_EQ(displays.messageBoxes, 0);
  EXPECT_EQ(core->m_download.m_nReceived, 50u);
  EXPECT_EQ(Log().back(), kLost);
  EXPECT_EQ(core->last_outcome(), updater::RunOutcome::kLineLost);
  EXPECT_FALSE(core->m_link.IsOpen());
  // Less the device's own end of the line, which its hang-up closed.
  EXPECT_EQ(SettledDescriptorCount(descriptors - 1), descriptors - 1);

  PointLink(link, back.path());
  core->OnProgram();
  EXPECT_EQ(Log().back(), "Descarga correcta\n");
  EXPECT_TRUE(back.complete());
}

struct NoiseCase {
  const char* name;
  long beforeReply;  // 0 the probe reply, 1 the length reply, 5 the second block's '2'
  std::vector<std::uint8_t> noise;
  std::vector<std::uint8_t> afterEnd;
  std::vector<std::string> expected;
  int messageBoxes;
};

class LineNoise : public ::testing::WithParamInterface<NoiseCase>, public PtyFaultTest {};

// Bytes the host does not expect: the exchange they land in fails (or, after the end, nothing
// does), the port is closed, and the next run on the same line succeeds.
TEST_P(LineNoise, SpoilsOnlyTheExchangeItLandsIn) {
  const NoiseCase& c = GetParam();
  LineDevice::Options options;
  options.noiseBeforeReply = c.beforeReply;
  options.noise = c.noise;
  options.noiseAfterEnd = c.afterEnd;
  LineDevice device(options);
  ASSERT_TRUE(device.Start());
  MakeCore({device.path(), nullptr, nullptr, nullptr});
  LoadImage(300);
  const int descriptors = OpenDescriptorCount();

  core->OnProgram();
  EXPECT_EQ(LogFrom(0), c.expected);
  EXPECT_EQ(displays.messageBoxes, c.messageBoxes);
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_TRUE(PortIsFree(device.path()));
  EXPECT_EQ(SettledDescriptorCount(descriptors), descriptors);

  const std::size_t before = Log().size();
  core->OnProgram();
  ASSERT_FALSE(LogFrom(before).empty());
  EXPECT_EQ(LogFrom(before).back(), "Descarga correcta\n");
  EXPECT_EQ(SettledDescriptorCount(descriptors), descriptors);
}

INSTANTIATE_TEST_SUITE_P(
    Points, LineNoise,
    ::testing::Values(
        // Taken for the probe reply: no device on COM1.
        NoiseCase{"BeforeTheProbeReply", 0, {'x'}, {}, ProbeLost(), 0},
        // Taken for the length reply: the host announces again, the device takes those two bytes
        // for image bytes, and the echo shows it.
        NoiseCase{"BeforeTheLengthReply", 1, {'x'}, {}, Connected({}), 1},
        // Taken for the block acknowledgement.
        NoiseCase{"BetweenBlocks", 5, {0x00, 0xFF}, {}, Connected({"PROGRAM_STATE_ERROR !\n"}), 0},
        NoiseCase{"AfterTheEnd", -1, {}, {'6', 'x', 0xFF}, Connected({"Descarga correcta\n"}), 0}),
    [](const ::testing::TestParamInfo<NoiseCase>& param) { return param.param.name; });

// Another program holds the device's port: that port is "No abierto" and the next one is probed;
// once the other program lets go, the port is found again.
TEST_F(PtyFaultTest, PortHeldByAnotherProgramIsSkippedUntilReleased) {
  support::SimProcess held, free;
  StartSim(held, {});
  StartSim(free, {});
  support::PortHolder holder([&held] {
    // Left open until the holder ends.
    auto* other = new updater::PosixPortDriver({held.path().c_str(), nullptr, nullptr, nullptr});
    return other->Open("COM1") != updater::kInvalidPort;
  });
  ASSERT_TRUE(holder.holding());

  MakeCore({held.path().c_str(), free.path().c_str(), nullptr, nullptr});
  LoadImage(200);
  core->OnProgram();
  const std::vector<std::string> expected = {
      "Probando COM1 ...\n",        "No abierto COM1\n", "Probando COM2 ...\n", "COM2 abierto\n",
      "Conectado a equipo en COM2", "Inicio descarga\n", "Descarga correcta\n"};
  EXPECT_EQ(Log(), expected);

  ASSERT_TRUE(holder.Release());
  const std::size_t before = Log().size();
  core->OnProgram();
  ASSERT_GE(LogFrom(before).size(), 3u);
  EXPECT_EQ(LogFrom(before)[1], "COM1 abierto\n");
  EXPECT_EQ(LogFrom(before).back(), "Descarga correcta\n");
  EXPECT_EQ(held.Wait(20000), 0);
  EXPECT_EQ(free.Wait(20000), 0);
}

// Port names that lead to things other than terminals fail to open at once, and the device on
// the next port is still found.
TEST_F(PtyFaultTest, PathsThatAreNoTerminalFailToOpenAndTheSearchGoesOn) {
  const std::string file = dir + "/file", fifo = dir + "/fifo";
  std::ofstream(file) << "not a port";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  support::SimProcess device;
  StartSim(device, {"--keep-serving"});
  const int descriptors = OpenDescriptorCount();

  for (const auto& paths : {updater::PosixPortDriver::PathTable{file.c_str(), dir.c_str(),
                                                                "/dev/null", device.path().c_str()},
                            updater::PosixPortDriver::PathTable{
                                fifo.c_str(), "/dev/zero", "/dev/null", device.path().c_str()}}) {
    MakeCore(paths);
    LoadImage(100);
    const auto t0 = Steady::now();
    core->OnProgram();
    const std::vector<std::string> expected = {
        "Probando COM1 ...\n", "No abierto COM1\n",   "Probando COM2 ...\n",
        "No abierto COM2\n",   "Probando COM3 ...\n", "No abierto COM3\n",
        "Probando COM4 ...\n", "COM4 abierto\n",      "Conectado a equipo en COM4",
        "Inicio descarga\n",   "Descarga correcta\n"};
    EXPECT_EQ(Log(), expected);
    // Four pauses before the opens and the one after "Inicio descarga": no wait on any open.
    EXPECT_LT(MsSince(t0), 5000 + 4000);
    core.reset();
    driver.reset();
    EXPECT_EQ(SettledDescriptorCount(descriptors), descriptors);
  }
}

// A line that takes no more bytes (nobody reads the other end and its buffer is full): each write
// gives up after 5000 ms, the probe goes unanswered, and the run ends.
TEST_F(PtyFaultTest, LineThatTakesNoBytesDropsThemAfterFiveSecondsAndTheRunEnds) {
  updater::test::PtyPair line;
  ASSERT_TRUE(line.ok());
  // Filled while binary, as the updater will leave it (a cooked line keeps room that a raw write
  // still takes), and in single bytes at the end; the kernel moves written bytes on in the
  // background, so the line is full only when a write has found no room twice, some time apart.
  const int filler = open(line.slavePath(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  termios raw{};
  ASSERT_EQ(tcgetattr(filler, &raw), 0);
  cfmakeraw(&raw);
  ASSERT_EQ(tcsetattr(filler, TCSANOW, &raw), 0);
  const std::vector<std::uint8_t> chunk(4096, 'f');
  for (int emptyRounds = 0, round = 0; emptyRounds < 2 && round < 1000; ++round) {
    long filled = 0;
    for (ssize_t n; (n = write(filler, chunk.data(), chunk.size())) > 0;)
      filled += n;
    for (ssize_t n; (n = write(filler, chunk.data(), 1)) > 0;)
      filled += n;
    ASSERT_EQ(errno, EAGAIN);
    emptyRounds = filled == 0 ? emptyRounds + 1 : 0;
    timespec pause{0, 50 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }

  MakeCore({line.slavePath(), nullptr, nullptr, nullptr});
  LoadImage(10);
  ASSERT_EQ(core->m_link.OpenPort(0), 1);
  auto t0 = Steady::now();
  core->m_link.WriteByte('0');
  const long long writeMs = MsSince(t0);
  // 5000 ticks of the millisecond clock: in real time a tick's fraction may be missing.
  EXPECT_GE(writeMs, 4998);
  EXPECT_LT(writeMs, 30000);
  core->m_link.ClosePort();

  const std::size_t before = Log().size();
  t0 = Steady::now();
  core->OnProgram();
  EXPECT_GE(MsSince(t0), 10000);  // the probe's write and its read each wait out 5000 ms
  EXPECT_LT(MsSince(t0), 60000);
  EXPECT_EQ(LogFrom(before), ProbeLost());
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_TRUE(PortIsFree(line.slavePath()));
  close(filler);
}

}  // namespace
}  // namespace faults
