#include "serial/win32_line_settings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using updater::LineSettings;
using updater::WithDeviceLineSettings;
using updater::win32::ApplyLineSettings;
using updater::win32::BoundWriteTimeouts;
using updater::win32::kWriteTimeoutBoundMs;
using updater::win32::ReadLineSettings;

// A block as a port with even parity, DTR handshake, CTS and DSR output flow, XON/XOFF and
// abort-on-error might report it: every field differs from what the program sets.
DCB BusyPort() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 19200;
  dcb.fBinary = 0;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 123;
  dcb.XoffLim = 456;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = '?';
  dcb.EofChar = 0x1A;
  dcb.EvtChar = '\n';
  return dcb;
}

TEST(Win32LineSettings, OnlyTheSixSettingsChange) {
  const DCB found = BusyPort();
  const DCB applied = ApplyLineSettings(found, WithDeviceLineSettings({}));
  EXPECT_EQ(applied.BaudRate, 9600u);
  EXPECT_EQ(applied.ByteSize, 8);
  EXPECT_EQ(applied.StopBits, ONESTOPBIT);
  EXPECT_EQ(applied.fBinary, 1u);
  EXPECT_EQ(applied.fParity, 0u);
  EXPECT_EQ(applied.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));

  // Put the six back and the rest must be the block as found, bit for bit (bit fields included).
  DCB restored = applied;
  restored.BaudRate = found.BaudRate;
  restored.ByteSize = found.ByteSize;
  restored.StopBits = found.StopBits;
  restored.fBinary = found.fBinary;
  restored.fParity = found.fParity;
  restored.fRtsControl = found.fRtsControl;
  EXPECT_EQ(std::memcmp(&restored, &found, sizeof found), 0);
  EXPECT_EQ(applied.Parity, EVENPARITY);
  EXPECT_EQ(applied.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(applied.fOutxCtsFlow, 1u);
  EXPECT_EQ(applied.fOutX, 1u);
}

TEST(Win32LineSettings, ParitySchemeIsReportedAndNeverApplied) {
  LineSettings wanted = WithDeviceLineSettings({});
  wanted.parity = NOPARITY;
  const DCB applied = ApplyLineSettings(BusyPort(), wanted);
  EXPECT_EQ(applied.Parity, EVENPARITY);
  EXPECT_EQ(ReadLineSettings(applied).parity, EVENPARITY);
}

TEST(Win32LineSettings, ReadBackGivesWhatWasApplied) {
  for (std::uint8_t rts = 0; rts < 4; ++rts) {
    LineSettings wanted = WithDeviceLineSettings({});
    wanted.rtsControl = rts;
    wanted.stopBits = 2;
    wanted.binary = rts % 2 == 0;
    wanted.parityCheck = rts % 2 == 1;
    const LineSettings read = ReadLineSettings(ApplyLineSettings(BusyPort(), wanted));
    EXPECT_EQ(read.rtsControl, rts);
    EXPECT_EQ(read.stopBits, 2);
    EXPECT_EQ(read.binary, wanted.binary);
    EXPECT_EQ(read.parityCheck, wanted.parityCheck);
    EXPECT_EQ(read.baudRate, 9600u);
    EXPECT_EQ(read.byteSize, 8);
  }
}

TEST(Win32WriteTimeouts, ZeroWriteTotalGetsTheBoundAndNothingElseChanges) {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;  // a port set to return reads at once keeps that
  ASSERT_TRUE(BoundWriteTimeouts(t));
  EXPECT_EQ(t.WriteTotalTimeoutConstant, kWriteTimeoutBoundMs);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
}

TEST(Win32WriteTimeouts, APortWithAnyWriteTotalKeepsIt) {
  for (const auto& [multiplier, constant] : {std::pair<DWORD, DWORD>{1, 0}, {0, 1}, {10, 60000}}) {
    COMMTIMEOUTS t{};
    t.WriteTotalTimeoutMultiplier = multiplier;
    t.WriteTotalTimeoutConstant = constant;
    EXPECT_FALSE(BoundWriteTimeouts(t));
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, multiplier);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, constant);
  }
}

}  // namespace
