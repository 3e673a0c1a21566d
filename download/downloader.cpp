#include "download/downloader.h"

#include <cstdio>
#include <cstring>

#include "model/localized.h"
#include "model/resource.h"
#include "serial/protocol.h"

namespace updater {

std::uint8_t g_programState = PROGRAM_STATE_SIZE;

using protocol::kBlockReceived;
using protocol::kBlockSize;
using protocol::kEnd;
using protocol::kImageComplete;
using protocol::kLengthAccepted;
using protocol::kLengthRejected;
using protocol::kMoreBlocks;
using protocol::kPauseAfterLengthMs;
using protocol::kPauseAfterStartMs;

void Downloader::ResetReceived() {
  std::memset(m_received, 0, sizeof m_received);
  m_nReceived = 0;
  m_nPosition = 0;
}

void Downloader::StoreReceived(std::uint8_t value) {
  if (m_nReceived >= kReceivedSize)
    return;  // never past the buffer, whatever the device sends
  m_received[m_nReceived] = value;
  ++m_nReceived;
}

void Downloader::Download() {
  g_programState = PROGRAM_STATE_SIZE;
  announcements_ = 0;
  emptyBlocks_ = 0;
  succeeded_ = false;
  outcome_ = RunOutcome::kProtocolFailure;

  reporter_.Report(Translatable("Inicio descarga\n"));
  clock_.Sleep(kPauseAfterStartMs);
  reporter_.ShowOnly(Translatable("Espere alrededor 1 minuto"));

  bool running = true;
  while (running) {
    // A stop asked for ends the run here, whatever the failed reads that led here say.
    if (clock_.Interrupted()) {
      outcome_ = RunOutcome::kInterrupted;
      break;
    }
    // Whatever reply a lost line seemed to give (0xFF, an echo that differs), the operator is
    // told what happened to the line.
    if (link_.line_lost()) {
      const char* port = link_.connected_port();
      reporter_.Report(Translatable("Se perdi\xF3 la conexi\xF3n con %s\n"),
                       port != nullptr ? port : "");
      outcome_ = RunOutcome::kLineLost;
      g_programState = PROGRAM_STATE_ERROR;
      break;
    }
    switch (g_programState) {
      case PROGRAM_STATE_SIZE:
        running = StepSize();
        break;
      case PROGRAM_STATE_DATA:
        running = StepData();
        break;
      case PROGRAM_STATE_END:
        running = StepEnd();
        break;
      default:
        reporter_.Report("PROGRAM_STATE_ERROR !\n");
        running = false;
        break;
    }
  }
  ShowReceived();
}

bool Downloader::StepSize() {
  if (m_nFileLength >= kLengthLimit) {
    // The length does not fit the device's announcement; sending part of the image and then
    // reporting success would mislead the operator.
    reporter_.Report(Translatable("tama\xF1o incorrecto\n"));
    outcome_ = RunOutcome::kImageTooLong;
    g_programState = PROGRAM_STATE_ERROR;
    return true;
  }
  m_nToSend = m_nFileLength;
  ++announcements_;
  link_.WriteByte(static_cast<int>((m_nToSend >> 8) & 0xFF));
  const bool highDropped = link_.write_dropped();
  link_.WriteByte(static_cast<int>(m_nToSend & 0xFF));
  if (highDropped || link_.write_dropped()) {
    // A line that takes nothing for five seconds would take ten announcements of three
    // time-outs each to give up on; the device cannot have heard this one.
    g_programState = PROGRAM_STATE_ERROR;
    return true;
  }
  clock_.Sleep(kPauseAfterLengthMs);

  const std::uint8_t reply = link_.ReadByte();
  StoreReceived(reply);
  ShowReceived();

  if (reply == kLengthAccepted) {
    m_nBlockCount = 0;
    m_nPosition = 0;
    m_nReceived = 0;
    g_programState = PROGRAM_STATE_DATA;
  } else if (reply == kLengthRejected) {
    reporter_.Report(Translatable("tama\xF1o incorrecto\n"));
    outcome_ = RunOutcome::kLengthRejected;
    g_programState = PROGRAM_STATE_ERROR;
  } else if (announcements_ >= kMaxAnnouncements) {
    g_programState = PROGRAM_STATE_ERROR;
  }
  return true;
}

bool Downloader::StepData() {
  m_nBlockCount = 0;
  if (m_nPosition >= m_nToSend) {
    // The device asks for another block although the image is exhausted.
    if (emptyBlocks_ >= kMaxEmptyBlocks) {
      g_programState = PROGRAM_STATE_ERROR;
      return true;
    }
    ++emptyBlocks_;
  }
  while (m_nPosition < m_nToSend) {
    link_.WriteByte(m_image[m_nPosition]);
    // The line took nothing for five seconds: the rest of the block would cost as much a byte.
    // The device, short of bytes, sends no '2', and the block ends as unacknowledged.
    if (link_.write_dropped())
      break;
    ++m_nBlockCount;
    ++m_nPosition;
    reporter_.displays().StepProgress();
    if (m_nBlockCount >= kBlockSize)
      break;
  }
  char sent[16];
  std::snprintf(sent, sizeof sent, "%d", static_cast<int>(m_nPosition));
  reporter_.displays().SetText(IDC_SENT, sent);

  // The device answers a block with '2', the block's echo and its reply, back to back.
  link_.ExpectBytes(m_nBlockCount + 2);
  if (link_.ReadByte() != kBlockReceived) {
    g_programState = PROGRAM_STATE_ERROR;
    return true;
  }
  if (!VerifyBlock()) {
    // An echo cut short by a stop is no wrong echo.
    if (clock_.Interrupted()) {
      outcome_ = RunOutcome::kInterrupted;
      return false;
    }
    if (link_.line_lost())
      return true;
    outcome_ = RunOutcome::kEchoMismatch;
    constexpr const char* kEchoError = Translatable("Error de comunicaci\xF3n");
    reporter_.displays().ShowTranslatedMessageBox(Localized(kEchoError), kEchoError);
    return false;
  }
  const std::uint8_t reply = link_.ReadByte();
  if (reply == kImageComplete && m_nPosition >= m_nToSend) {
    g_programState = PROGRAM_STATE_END;
  } else if (reply != kMoreBlocks) {
    // Anything else, and also "complete" while image bytes are still to go: ending the download
    // there would report success for an image the device never had whole.
    g_programState = PROGRAM_STATE_ERROR;
  }
  return true;
}

bool Downloader::StepEnd() {
  link_.WriteByte(kEnd);
  if (link_.ReadByte() != kEnd) {
    g_programState = PROGRAM_STATE_ERROR;
    return true;
  }
  reporter_.Report(Translatable("Descarga correcta\n"));
  ShowReceived();
  succeeded_ = true;
  outcome_ = RunOutcome::kSucceeded;
  return false;
}

int Downloader::VerifyBlock() {
  for (std::uint32_t i = 0; i < m_nBlockCount; ++i) {
    if (m_nReceived >= kReceivedSize || m_nReceived >= kImageSize)
      return 0;
    const std::uint8_t echoed = link_.ReadByte();
    m_received[m_nReceived] = echoed;
    if (echoed != m_image[m_nReceived])
      return 0;
    ++m_nReceived;
  }
  return 1;
}

}  // namespace updater
