#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "serial/posix_line_settings.h"
#include "serial/posix_port_driver.h"
#include "support/temp_dir.h"
#include "tty_table.h"

namespace updater {
namespace {

termios Found(tcflag_t cflagParity) {
  termios t{};
  t.c_cflag = CS7 | CREAD | cflagParity;
  t.c_iflag = INPCK;
  cfsetispeed(&t, B2400);
  cfsetospeed(&t, B2400);
  return t;
}

TEST(ApplyLineSettings, ParitySchemeIsKeptAndOnlyItsCheckingDropped) {
  const termios even = ApplyLineSettings(Found(PARENB), WithDeviceLineSettings({}));
  EXPECT_NE(even.c_cflag & PARENB, 0u);
  EXPECT_EQ(even.c_cflag & (PARODD | CMSPAR), 0u);
  EXPECT_EQ(even.c_iflag & INPCK, 0u);
  EXPECT_EQ(ReadLineSettings(even).parity, 2);

  const termios mark =
      ApplyLineSettings(Found(PARENB | PARODD | CMSPAR), WithDeviceLineSettings({}));
  EXPECT_EQ(mark.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t{PARENB | PARODD | CMSPAR});
  EXPECT_EQ(ReadLineSettings(mark).parity, 3);

  EXPECT_EQ(ReadLineSettings(ApplyLineSettings(Found(0), WithDeviceLineSettings({}))).parity, 0);
}

// Every bit and field outside the table's settings and the binary flags must come out as found;
// starting from all bits set also proves that each cooked flag, CSTOPB and CRTSCTS are cleared.
TEST(ApplyLineSettings, ChangesOnlyTheTableAndTheBinaryFlags) {
  termios found;
  std::memset(&found, 0xFF, sizeof found);
  for (std::size_t i = 0; i < NCCS; ++i)
    found.c_cc[i] = static_cast<cc_t>(i + 3);
  found.c_line = 2;
  cfsetispeed(&found, B2400);
  cfsetospeed(&found, B2400);

  const termios out = ApplyLineSettings(found, WithDeviceLineSettings({}));

  termios expected = found;  // the baud rate as the termios API itself sets it
  cfsetispeed(&expected, B9600);
  cfsetospeed(&expected, B9600);
  EXPECT_EQ(cfgetispeed(&out), speed_t{B9600});
  EXPECT_EQ(cfgetospeed(&out), speed_t{B9600});

  const tcflag_t cooked_i =
      INLCR | IGNCR | ICRNL | ISTRIP | PARMRK | IUCLC | BRKINT | IXON | IXOFF | IXANY | INPCK;
  const tcflag_t cooked_l =
      ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | ISIG | IEXTEN;
  const tcflag_t table_c = CSIZE | CSTOPB | CRTSCTS;
  EXPECT_EQ(out.c_iflag, expected.c_iflag & ~cooked_i);
  EXPECT_EQ(out.c_lflag, expected.c_lflag & ~cooked_l);
  EXPECT_EQ(out.c_oflag, expected.c_oflag & ~static_cast<tcflag_t>(OPOST));
  EXPECT_EQ(out.c_cflag, (expected.c_cflag & ~table_c) | CS8 | CREAD | CLOCAL);
  EXPECT_EQ(out.c_line, found.c_line);
  for (std::size_t i = 0; i < NCCS; ++i) {
    if (i == VMIN || i == VTIME)
      continue;
    EXPECT_EQ(out.c_cc[i], found.c_cc[i]) << "c_cc[" << i << "]";
  }
  EXPECT_EQ(out.c_cc[VMIN], 1);
  EXPECT_EQ(out.c_cc[VTIME], 0);
  EXPECT_TRUE(IsBinary(out));

  const LineSettings back = ReadLineSettings(out);
  EXPECT_EQ(back.baudRate, 9600u);
  EXPECT_EQ(back.byteSize, 8);
  EXPECT_EQ(back.stopBits, 0);
  EXPECT_TRUE(back.binary);
  EXPECT_FALSE(back.parityCheck);
  EXPECT_NE(back.rtsControl, 2);
}

class ResolvePortPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // COM2 and COM3 are taken by links below; the real UARTs fill COM1 and COM4.
    tree_.Add("ttyS0", dir_ + "/ttyS0")
        .Add("ttyS1", dir_ + "/ttyS1", 0)
        .Add("ttyS3", dir_ + "/ttyS3");
  }
  std::string Resolve(int index) {
    char out[256];
    return ResolvePortPath(index, dir_.c_str(), tree_, out, sizeof out) ? out : "<failed>";
  }
  support::TempDir temp_;
  const std::string dir_ = temp_.path();
  test::TtyTable tree_;
};

TEST_F(ResolvePortPathTest, AdministratorsLinkWinsEvenWhenDangling) {
  std::FILE* f = std::fopen((dir_ + "/target").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(symlink((dir_ + "/target").c_str(), (dir_ + "/COM2").c_str()), 0);
  ASSERT_EQ(symlink((dir_ + "/gone").c_str(), (dir_ + "/COM3").c_str()), 0);

  EXPECT_EQ(Resolve(0), dir_ + "/ttyS0");
  EXPECT_EQ(Resolve(1), dir_ + "/COM2");
  EXPECT_EQ(Resolve(2), dir_ + "/COM3");  // dangling: the port is absent, not ttyS2
  EXPECT_EQ(Resolve(3), dir_ + "/ttyS3");
}

TEST_F(ResolvePortPathTest, RefusesBadIndexAndShortBuffer) {
  EXPECT_EQ(Resolve(-1), "<failed>");
  EXPECT_EQ(Resolve(4), "<failed>");
  char small[8];
  EXPECT_FALSE(ResolvePortPath(0, dir_.c_str(), tree_, small, sizeof small));
}

}  // namespace
}  // namespace updater
