// The line-rate bound against figures worked out by hand.

#include "serial/protocol.h"

#include <gtest/gtest.h>

namespace {

using updater::protocol::BlockCount;
using updater::protocol::LineBoundSeconds;
using updater::protocol::SearchBoundSeconds;

// 1.04166... ms a byte at 9600 baud, 10 bits a byte.
constexpr double kByte = 10.0 / 9600.0;
// Far below a byte's time: only rounding differs.
constexpr double kExact = 1e-9;

TEST(LineBound, ThreeHundredBytesByHand) {
  // Blocks of 128, 128 and 44. The length and its reply (3), the image and its echo (600), '2'
  // and '3' or '4' a block (6), '6' and its echo (2): 611 bytes; then 1000 ms after the start
  // and 10 ms after the length.
  EXPECT_NEAR(LineBoundSeconds(300), 611 * kByte + 1.010, kExact);
  EXPECT_NEAR(LineBoundSeconds(300), 1.6465, 0.0001);
}

TEST(LineBound, EachAnnouncementAddsItsBytesAndPause) {
  EXPECT_NEAR(LineBoundSeconds(300, 3) - LineBoundSeconds(300), 2 * (3 * kByte + 0.010), kExact);
}

TEST(LineBound, BlocksRoundUpAndAnEmptyImageIsOneBlock) {
  EXPECT_EQ(BlockCount(0), 1u);
  EXPECT_EQ(BlockCount(1), 1u);
  EXPECT_EQ(BlockCount(128), 1u);
  EXPECT_EQ(BlockCount(129), 2u);
  EXPECT_EQ(BlockCount(31743), 248u);
  // The length, its reply, the empty block's '2' and '4', the end and its echo.
  EXPECT_NEAR(LineBoundSeconds(0), 7 * kByte + 1.010, kExact);
}

TEST(LineBound, SearchAddsThePausesBeforeEachOpenAndTheProbe) {
  // A named port: 1000 ms before its open, 100 ms before the probe, '0' and its answer.
  EXPECT_NEAR(SearchBoundSeconds(1), 1.100 + 2 * kByte, kExact);
  // COM1 and COM2 absent, the device on COM3.
  EXPECT_NEAR(SearchBoundSeconds(3), 3.100 + 2 * kByte, kExact);
  // The whole run the benchmarks give for 31,743 bytes on a named port: 63,989 bytes, 2.110 s.
  EXPECT_NEAR(LineBoundSeconds(31743) + SearchBoundSeconds(1), 63989 * kByte + 2.110, kExact);
}

}  // namespace
