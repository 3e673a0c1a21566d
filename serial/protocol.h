#pragma once

#include <cstdint>

// The device's download protocol as both ends speak it: the updater's link and download, the
// simulator's device, and the benchmarks that hold a run against the line's rate. Header only, so
// that the simulator takes it without the link.
namespace updater::protocol {

// The line: 9600 baud, 8 data bits, no parity, one stop bit.
inline constexpr std::uint32_t kBaud = 9600;
inline constexpr std::uint8_t kDataBits = 8;
// A start bit, the data bits and a stop bit.
inline constexpr std::uint32_t kBitsPerByte = 1 + kDataBits + 1;

// The bytes of the exchange. The host probes with '0' and a device answers '0'; the length's
// reply is '1' or '9'; a block is answered with '2', its echo, then '3' (more) or '4' (the image
// is whole); the host ends with '6', which the device echoes.
inline constexpr std::uint8_t kProbe = '0';
inline constexpr std::uint8_t kLengthAccepted = '1';
inline constexpr std::uint8_t kBlockReceived = '2';
inline constexpr std::uint8_t kMoreBlocks = '3';
inline constexpr std::uint8_t kImageComplete = '4';
inline constexpr std::uint8_t kEnd = '6';
inline constexpr std::uint8_t kLengthRejected = '9';

// The image goes in blocks of this many bytes, the last one shorter.
inline constexpr std::uint32_t kBlockSize = 128;
// The length goes as two bytes, high first; the device takes only lengths below this.
inline constexpr std::uint32_t kLengthLimit = 0x7C00;

// The host's fixed pauses, where they fall in a run.
inline constexpr std::uint32_t kPauseBeforeOpenMs = 1000;  // before each port is opened
inline constexpr std::uint32_t kPauseBeforeProbeMs = 100;  // between the open and the probe
inline constexpr std::uint32_t kPauseAfterCloseMs = 1000;  // after a port that did not answer
inline constexpr std::uint32_t kPauseAfterStartMs = 1000;  // after "Inicio descarga"
inline constexpr std::uint32_t kPauseAfterLengthMs = 10;   // after each length announcement

// Seconds `bytes` take on the line.
constexpr double LineSeconds(double bytes) {
  return bytes * kBitsPerByte / kBaud;
}

// The blocks an image of `size` bytes goes in: an empty image still goes as one empty block.
constexpr std::uint32_t BlockCount(std::uint32_t size) {
  return size == 0 ? 1 : (size + kBlockSize - 1) / kBlockSize;
}

// The line-rate bound of a download of `size` bytes, the least time it can take from its start
// to the end's echo: every byte both ways at the line's rate (each announcement and its reply,
// the image and its echo, '2' and '3' or '4' a block, the end and its echo) and the pauses after
// the start and after each announcement.
constexpr double LineBoundSeconds(std::uint32_t size, std::uint32_t announcements = 1) {
  const double bytes = 3.0 * announcements + 2.0 * size + 2.0 * BlockCount(size) + 2.0;
  return LineSeconds(bytes) + (kPauseAfterStartMs + announcements * kPauseAfterLengthMs) / 1000.0;
}

// What a search adds before the download when the device answers on the `portsTried`th port: the
// pause before each port's open (one that is absent is paused for too), then the pause before the
// probe, the probe and its answer. A port that opened and stayed silent would add its read's
// time-out and the pause after its close; the benchmarks leave none in the way.
constexpr double SearchBoundSeconds(std::uint32_t portsTried) {
  return (portsTried * kPauseBeforeOpenMs + kPauseBeforeProbeMs) / 1000.0 + LineSeconds(2);
}

}  // namespace updater::protocol
