#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/posix_port_driver.h"
#include "serial/posix_port_list.h"
#include "support/temp_dir.h"
#include "tty_table.h"

namespace updater {
namespace {

// A device tree in a temporary folder that stands for /dev: the nodes are empty files, so that
// links can point at them and no real port is ever opened.
class PortListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A phantom ttyS1 and ttyS2 (no UART), two real ones; USB ports whose kernel names go
    // against their places on the bus, which decide.
    Node("ttyS0", 4).Node("ttyS1", 0).Node("ttyS2", 0).Node("ttyS10", 4);
    Node("ttyUSB0", 0, "pci-0000:00:14.0-usb-0:10:1.0-port0");
    Node("ttyUSB1", 0, "pci-0000:00:14.0-usb-0:2:1.0-port0");
    Node("ttyACM0", 0, "pci-0000:00:14.0-usb-0:3:1.0");
  }
  PortListTest& Node(const std::string& name, int type, const char* location = nullptr) {
    const std::string path = Path(name);
    close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    tree_.Add(name, path, type, location);
    return *this;
  }
  void Link(int n, const std::string& target) {
    const std::string link = Path("COM" + std::to_string(n));
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // "COMn path" for every port listed.
  std::vector<std::string> List(int capacity = 16) {
    PortInfo ports[16];
    const int count = ListPosixSerialPorts(tree_, dir_.c_str(), ports, capacity);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
      out.push_back(std::string(ports[i].name) + " " + ports[i].path);
    return out;
  }

  support::TempDir temp_;
  const std::string dir_ = temp_.path();
  test::TtyTable tree_;
};

TEST_F(PortListTest, RealUartsFirstThenUsbPortsByPlaceOnTheBus) {
  const std::vector<std::string> expected = {
      "COM1 " + Path("ttyS0"),   "COM2 " + Path("ttyS10"),  "COM3 " + Path("ttyUSB1"),
      "COM4 " + Path("ttyACM0"), "COM5 " + Path("ttyUSB0"),
  };
  EXPECT_EQ(List(), expected);
  EXPECT_EQ(List(2), std::vector<std::string>(expected.begin(), expected.begin() + 2));
}

// The administrator's names win: a link takes its number and its device gets no other; a
// dangling one keeps its number free of any port. The driver opens what the list says.
TEST_F(PortListTest, ComLinksTakeTheirNumbersAndTheDriverFollowsTheList) {
  Link(1, Path("ttyACM0"));
  Link(3, Path("gone"));
  const std::vector<std::string> expected = {
      "COM1 " + Path("COM1"),    "COM2 " + Path("ttyS0"),   "COM4 " + Path("ttyS10"),
      "COM5 " + Path("ttyUSB1"), "COM6 " + Path("ttyUSB0"),
  };
  EXPECT_EQ(List(), expected);
  PortInfo first[1];
  ASSERT_EQ(ListPosixSerialPorts(tree_, dir_.c_str(), first, 1), 1);
  EXPECT_EQ(first[0].number, 1);
  EXPECT_STREQ(first[0].driver, "ftdi_sio");  // what the system says of the linked device

  PosixPortDriver driver(tree_, dir_.c_str());
  OpenError error;
  EXPECT_EQ(driver.Open("COM2", error), kInvalidPort);  // an empty file, not a terminal
  EXPECT_EQ(error.failure, OpenFailure::kNotSerialPort);
  EXPECT_EQ(std::string(error.path), Path("ttyS0"));
  EXPECT_EQ(driver.Open("COM3", error), kInvalidPort);
  EXPECT_EQ(error.failure, OpenFailure::kAbsent);
  EXPECT_EQ(std::string(error.path), Path("COM3"));
  EXPECT_EQ(driver.Open("COM7", error), kInvalidPort);
  EXPECT_EQ(error.failure, OpenFailure::kAbsent);
  EXPECT_STREQ(error.path, "");
}

}  // namespace
}  // namespace updater
