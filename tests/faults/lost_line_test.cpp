// A line lost in each phase of a run (fake port and clock): the operator is told the connection
// was lost, the port is closed and nothing waits out a time-out.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "download/updater_core.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_displays.h"
#include "fakes/fake_port_driver.h"
#include "fakes/forwarding_port_driver.h"
#include "fakes/log_entries.h"
#include "model/resource.h"

namespace faults {
namespace {

using updater::PortHandle;
using updater::RunOutcome;

// The fake ports, whose line drops right after a chosen host byte goes out or a chosen device
// byte is taken in.
class DroppingDriver final : public fakes::ForwardingPortDriver {
 public:
  explicit DroppingDriver(fakes::FakePortDriver& fake) : ForwardingPortDriver(fake), fake_(fake) {}

  bool ReadByte(PortHandle p, std::uint8_t& v, std::uint32_t& n) override {
    const bool ok = ForwardingPortDriver::ReadByte(p, v, n);
    if (ok && n == 1 && ++reads_ == dropAfterReads)
      fake_.port(static_cast<int>(p)).hungUp = true;
    return ok;
  }
  bool WriteByte(PortHandle p, std::uint8_t v, std::uint32_t& n) override {
    const bool ok = ForwardingPortDriver::WriteByte(p, v, n);
    if (ok && n == 1 && ++writes_ == dropAfterWrites)
      fake_.port(static_cast<int>(p)).hungUp = true;
    return ok;
  }

  long dropAfterWrites = -1;
  long dropAfterReads = -1;

 private:
  fakes::FakePortDriver& fake_;
  long reads_ = 0;
  long writes_ = 0;
};

struct Phase {
  const char* name;
  long afterWrites;
  long afterReads;
  std::uint32_t pausesMs;  // the run's fixed pauses: all the time it may take
};

class LineLost : public ::testing::WithParamInterface<Phase>, public ::testing::Test {
 protected:
  LineLost() : fake(clock), dropping(fake), core(displays, dropping, clock) {
    core.InitState();
    device.Attach(fake.port(0));
    auto& d = core.m_download;
    for (std::size_t i = 0; i < 300; ++i)
      d.m_image[i] = static_cast<std::uint8_t>((i * 37 + 11) % 255);  // no 0xFF
    d.m_nFileLength = 300;
  }

  fakes::FakeClock clock;
  fakes::FakeDisplays displays;
  fakes::FakePortDriver fake;
  DroppingDriver dropping;
  fakes::DevicePeer device;
  updater::UpdaterCore core;
};

// Host bytes: the probe 1, the length 2 and 3, the image 4 to 303, the end byte 304. Device
// bytes: '0' 1, '1' 2, '2' 3, the first block's echo 4 to 131. Pauses: 1000 before the open, 100
// before the probe, 1000 after "Inicio descarga", 10 after the length.
TEST_P(LineLost, TheRunEndsAtOnceWithTheLostLineMessage) {
  const Phase& phase = GetParam();
  dropping.dropAfterWrites = phase.afterWrites;
  dropping.dropAfterReads = phase.afterReads;
  const std::uint32_t start = clock.now();
  core.OnProgram();
  EXPECT_EQ(clock.now() - start, phase.pausesMs) << "a wait on the lost line";

  const auto log = fakes::LogEntries(core.m_report);
  if (phase.afterWrites == 1) {
    // In discovery the port counts as one with no device, and the search goes on.
    const std::vector<std::string> expected = {
        "Probando COM1 ...\n", "COM1 abierto\n",        "Cerrar COM1\n",     "Probando COM2 ...\n",
        "No abierto COM2\n",   "Probando COM3 ...\n",   "No abierto COM3\n", "Probando COM4 ...\n",
        "No abierto COM4\n",   "No se puede conectar\n"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(core.last_outcome(), RunOutcome::kNoDevice);
  } else {
    const std::vector<std::string> expected = {"Probando COM1 ...\n", "COM1 abierto\n",
                                               "Conectado a equipo en COM1", "Inicio descarga\n",
                                               "Se perdi\xF3 la conexi\xF3n con COM1\n"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(displays.Text(IDC_INFO), "Se perdi\xF3 la conexi\xF3n con COM1\n");
    EXPECT_EQ(core.last_outcome(), RunOutcome::kLineLost);
  }
  EXPECT_EQ(displays.messageBoxes, 0) << "a lost line taken for a wrong echo";
  EXPECT_FALSE(core.m_download.succeeded());
  EXPECT_FALSE(core.m_link.IsOpen());
  EXPECT_EQ(fake.open_port_count(), 0);
  EXPECT_EQ(fake.port(0).opens, fake.port(0).closes);
  EXPECT_EQ(fake.calls_on_closed_handles(), 0);
  EXPECT_EQ(displays.cursor, updater::CursorShape::kArrow);
}

INSTANTIATE_TEST_SUITE_P(Phases, LineLost,
                         ::testing::Values(Phase{"Probe", 1, -1, 1100 + 1000 + 3 * 1000},
                                           Phase{"Length", 2, -1, 1100 + 1000},
                                           Phase{"MidBlockWrite", 3 + 64, -1, 1100 + 1000 + 10},
                                           Phase{"Echo", -1, 3 + 50, 1100 + 1000 + 10},
                                           Phase{"EndByte", 304, -1, 1100 + 1000 + 10}),
                         [](const ::testing::TestParamInfo<Phase>& param) {
                           return param.param.name;
                         });

}  // namespace
}  // namespace faults
