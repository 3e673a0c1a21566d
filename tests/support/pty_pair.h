#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>

namespace updater::test {

// A pseudo-terminal pair for tests: the test plays the device on the master side and the code
// under test opens the slave by its path. The fixture keeps its own slave descriptor open so the
// slave's termios survive the code under test closing and reopening it.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  int master() const { return master_; }
  const char* slavePath() const { return slavePath_; }

  // Puts the slave in `t` (TCSANOW).
  bool SetSlaveTermios(const termios& t);
  bool GetSlaveTermios(termios& t) const;
  // A cooked terminal as a login shell would leave it: line editing, echo, signals, XON/XOFF,
  // CR/NL translation, parity marking, bit stripping, output post-processing, RTS/CTS.
  static termios Cooked(const termios& base);
  bool MakeSlaveCooked();

  // Writes all `n` bytes to the master within `timeoutMs`; false if they did not all go.
  bool WriteMaster(const std::uint8_t* data, std::size_t n, int timeoutMs);
  // Reads from the master until `n` bytes came or `timeoutMs` passed; returns the count read.
  std::size_t ReadMaster(std::uint8_t* out, std::size_t n, int timeoutMs);

  // Waits until the slave's input queue holds at least `n` bytes, looked at through the fixture's
  // own slave descriptor (which takes none of them); returns how many it holds.
  std::size_t WaitSlaveQueue(std::size_t n, int timeoutMs);

  // Closing the master hangs up the slave side.
  void CloseMaster();
  void CloseSlave();

 private:
  int master_ = -1;
  int slave_ = -1;
  char slavePath_[128] = {};
};

// Interrupts the process with SIGALRM every `periodMs` while alive (handler installed without
// SA_RESTART), to prove that waits and sleeps resume after EINTR with the time that was left.
class ScopedInterrupts {
 public:
  explicit ScopedInterrupts(int periodMs);
  ~ScopedInterrupts();
  ScopedInterrupts(const ScopedInterrupts&) = delete;
  ScopedInterrupts& operator=(const ScopedInterrupts&) = delete;
  // Signals delivered so far (all instances together).
  static int count();
};

}  // namespace updater::test
