// Many runs over real pseudo-terminals, ending every way a run ends quickly, leave no descriptor
// and no port behind.

#include <cstring>

#include "faults/pty_fixture.h"

namespace faults {
namespace {

TEST_F(PtyFaultTest, ThirtyTwoRunsOfEveryOutcomeLeaveNoDescriptorOpen) {
  struct Device {
    std::vector<std::string> options;
    const char* lastEntry;
    support::SimProcess sim;
    std::unique_ptr<updater::PosixPortDriver> driver;
    std::unique_ptr<updater::UpdaterCore> core;
  };
  Device devices[] = {{{}, "Descarga correcta\n", {}, {}, {}},
                      {{"--probe-reply=1"}, "No se puede conectar\n", {}, {}, {}},
                      {{"--reject-length"}, "PROGRAM_STATE_ERROR !\n", {}, {}, {}},
                      {{"--wrong-echo=5"}, "Inicio descarga\n", {}, {}, {}}};
  MakeCore({nullptr, nullptr, nullptr, nullptr});
  LoadImage(200);
  const std::string image = dir + "/fw.QMZ";
  for (Device& d : devices) {
    d.options.push_back("--keep-serving");
    StartSim(d.sim, d.options);
    d.driver = std::make_unique<updater::PosixPortDriver>(
        updater::PosixPortDriver::PathTable{d.sim.path().c_str(), nullptr, nullptr, nullptr});
    d.core = std::make_unique<updater::UpdaterCore>(displays, *d.driver, fastClock);
    d.core->InitState();
    d.core->LoadImage(image.c_str());
  }
  const int descriptors = OpenDescriptorCount();
  ASSERT_GT(descriptors, 0);

  for (int round = 0; round < 8; ++round) {
    for (Device& d : devices) {
      SCOPED_TRACE(d.lastEntry);
      d.core->OnProgram();
      const std::string log(d.core->m_report.m_log, d.core->m_report.log_length());
      EXPECT_EQ(log.substr(log.size() - std::strlen(d.lastEntry) - 2),
                std::string(d.lastEntry) + "\r\n");
      EXPECT_FALSE(d.core->m_link.IsOpen());
      // A file that cannot be read is refused without keeping it open.
      d.core->LoadImage((dir + "/missing.QMZ").c_str());
    }
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  for (Device& d : devices)
    EXPECT_TRUE(PortIsFree(d.sim.path().c_str()));
}

}  // namespace
}  // namespace faults
