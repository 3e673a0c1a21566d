// A device slow to answer, on a real line. The exact 5000 ms boundary is proven with the fake
// clock (timing_faults_test); here the margins are wide and the image is one byte, so that the
// six replies of a run keep the test short.

#include "faults/pty_fixture.h"

namespace faults {
namespace {

TEST_F(PtyFaultTest, DeviceAnsweringWellWithinTheTimeOutSucceeds) {
  support::SimProcess device;
  StartSim(device, {"--reply-delay=4000", "--save", dir + "/saved.bin"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  LoadImage(1);
  const auto t0 = Steady::now();
  core->OnProgram();
  // Probe, length, block, echo, complete, end: six replies after 4000 ms each.
  EXPECT_GE(MsSince(t0), 6 * 4000);
  EXPECT_EQ(Log().back(), "Descarga correcta\n");
  EXPECT_EQ(device.Wait(20000), 0);
}

TEST_F(PtyFaultTest, DeviceAnsweringPastTheTimeOutIsNotFound) {
  support::SimProcess device;
  StartSim(device, {"--reply-delay=6500"});
  MakeCore({device.path().c_str(), nullptr, nullptr, nullptr});
  LoadImage(1);
  core->OnProgram();
  const std::vector<std::string> expected = {
      "Probando COM1 ...\n", "COM1 abierto\n",        "Cerrar COM1\n",     "Probando COM2 ...\n",
      "No abierto COM2\n",   "Probando COM3 ...\n",   "No abierto COM3\n", "Probando COM4 ...\n",
      "No abierto COM4\n",   "No se puede conectar\n"};
  EXPECT_EQ(Log(), expected);
  EXPECT_FALSE(core->m_link.IsOpen());
  EXPECT_TRUE(PortIsFree(device.path().c_str()));
}

}  // namespace
}  // namespace faults
