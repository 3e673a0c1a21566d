// A device that drops the line while the length is announced: the run ends at once.

#include "faults/pty_fixture.h"

namespace faults {
namespace {

TEST_F(PtyFaultTest, DeviceHangingUpDuringTheLengthEndsTheDownloadAtOnce) {
  const std::string link = dir + "/COM1";
  support::SimProcess dropping;
  // Host byte 2 is the length's high byte: the line drops as it arrives.
  StartSim(dropping, {"--link", link, "--hang-up-after=2"});
  MakeCore({link.c_str(), nullptr, nullptr, nullptr});
  LoadImage(300);
  const int descriptors = OpenDescriptorCount();

  const auto t0 = Steady::now();
  core->OnProgram();
  const long long ms = MsSince(t0);
  const std::vector<std::string> expected = {"Probando COM1 ...\n", "COM1 abierto\n",
                                             "Conectado a equipo en COM1", "Inicio descarga\n",
                                             "Se perdi\xF3 la conexi\xF3n con COM1\n"};
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(core->last_outcome(), updater::RunOutcome::kLineLost);
  EXPECT_EQ(core->m_download.announcements(), 1);
  EXPECT_LE(core->m_download.m_nReceived, 1u);
  EXPECT_GE(ms, 1000 + 100 + 1000);
  EXPECT_LT(ms, 1000 + 100 + 1000 + 10 + 1000) << "a wait on the lost line";
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_EQ(dropping.Wait(20000), 2);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);

  support::SimProcess back;
  StartSim(back, {"--link", link});
  core->OnProgram();
  EXPECT_EQ(Log().back(), "Descarga correcta\n");
  EXPECT_EQ(back.Wait(20000), 0);
}

}  // namespace
}  // namespace faults
