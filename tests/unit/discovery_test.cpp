#include <gtest/gtest.h>

#include "fakes/core_fixture.h"

namespace {

using fakes::CoreFixture;

class DiscoveryTest : public CoreFixture {};

TEST_F(DiscoveryTest, DeviceOnCom3IsFoundAfterTwoMissingPorts) {
  AttachDevice(2);
  driver.port(3).present = true;
  EXPECT_EQ(core.m_link.FindDevice(), 1);
  EXPECT_EQ(LogEntries(), (std::vector<std::string>{"Probando COM1 ...\n", "No abierto COM1\n",
                                                    "Probando COM2 ...\n", "No abierto COM2\n",
                                                    "Probando COM3 ...\n", "COM3 abierto\n",
                                                    "Conectado a equipo en COM3"}));
  EXPECT_TRUE(driver.port(2).isOpen);
  EXPECT_EQ(driver.port(3).opens, 0);
  ASSERT_EQ(driver.port(2).host_byte_count(), 1u);
  EXPECT_EQ(driver.port(2).host_byte(0), '0');
}

TEST_F(DiscoveryTest, ProbeIsSentAfterTheFixedPauses) {
  AttachDevice(0);
  const std::uint32_t start = clock.now();
  EXPECT_EQ(core.m_link.FindDevice(), 1);
  EXPECT_EQ(clock.now() - start, 1100u);
  ASSERT_EQ(clock.sleep_count(), 2u);
  EXPECT_EQ(clock.sleep_at(0), 1000u);
  EXPECT_EQ(clock.sleep_at(1), 100u);
}

TEST_F(DiscoveryTest, WrongProbeReplyClosesThePortAndTriesTheNext) {
  sim::DeviceFaults faults;
  faults.probeReply = '1';
  AttachDevice(0, faults);
  AttachDevice(1);
  EXPECT_EQ(core.m_link.FindDevice(), 1);
  const auto log = LogEntries();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[2], "Cerrar COM1\n");
  EXPECT_EQ(log[3], "Probando COM2 ...\n");
  EXPECT_FALSE(driver.port(0).isOpen);
  EXPECT_EQ(driver.port(0).closes, 1);
  EXPECT_TRUE(driver.port(1).isOpen);
}

TEST_F(DiscoveryTest, NoDeviceAnywhereLeavesEveryPortClosed) {
  for (int i = 0; i < 4; ++i)
    driver.port(i).present = true;  // four silent ports
  const std::uint32_t start = clock.now();
  EXPECT_EQ(core.m_link.FindDevice(), 0);
  EXPECT_EQ(driver.open_port_count(), 0);
  EXPECT_FALSE(core.m_link.IsOpen());
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(driver.port(i).closes, 1) << i;
  EXPECT_EQ(clock.now() - start, 4u * (1000 + 100 + 5000 + 1000));
  EXPECT_EQ(LogEntries().back(), "Cerrar COM4\n");
}

TEST_F(DiscoveryTest, SilentDeviceCountsAsNoDevice) {
  sim::DeviceFaults faults;
  faults.silent = true;
  AttachDevice(0, faults);
  EXPECT_EQ(core.m_link.FindDevice(), 0);
  EXPECT_EQ(LogEntries()[2], "Cerrar COM1\n");
}

TEST_F(DiscoveryTest, DelayedButTimelyAnswerIsAccepted) {
  sim::DeviceFaults faults;
  faults.replyDelayMs = 4900;
  AttachDevice(1, faults);
  EXPECT_EQ(core.m_link.FindDevice(), 1);
  EXPECT_EQ(LogEntries().back(), "Conectado a equipo en COM2");
}

}  // namespace
