#include "fakes/fake_displays.h"

#include <cstdio>
#include <cstring>

#include "model/resource.h"

namespace fakes {

int FakeDisplays::Slot(int id) {
  const int slot = id - kFirstId;
  return (slot >= 0 && slot < kIdCount) ? slot : -1;
}

void FakeDisplays::Record(char (*history)[kHistoryTextSize], std::size_t& count,
                          std::string_view text) {
  if (count < kHistorySize) {
    const std::size_t n = text.size() < kHistoryTextSize - 1 ? text.size() : kHistoryTextSize - 1;
    std::memcpy(history[count], text.data(), n);
    history[count][n] = '\0';
  }
  ++count;
}

void FakeDisplays::SetText(int id, std::string_view text) {
  ++textUpdates;
  const int slot = Slot(id);
  if (slot < 0)
    return;
  const std::size_t n = text.size() < kTextSize ? text.size() : kTextSize;
  std::memcpy(texts_[slot], text.data(), n);
  lengths_[slot] = n;
  if (id == IDC_SENT)
    Record(sent_, sentCount_, text);
  if (id == IDC_INFO)
    Record(info_, infoCount_, text);
}

void FakeDisplays::SetNumber(int id, std::uint32_t value) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(value));
  SetText(id, std::string_view(text, static_cast<std::size_t>(n)));
}

void FakeDisplays::SetSignedNumber(int id, std::int32_t value) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  SetText(id, std::string_view(text, static_cast<std::size_t>(n)));
}

void FakeDisplays::Enable(int id, bool enabled) {
  const int slot = Slot(id);
  if (slot >= 0)
    enabled_[slot] = enabled;
}

void FakeDisplays::ShowMessageBox(std::string_view text) {
  ++messageBoxes;
  const std::size_t n =
      text.size() < sizeof lastMessageBox - 1 ? text.size() : sizeof lastMessageBox - 1;
  std::memcpy(lastMessageBox, text.data(), n);
  lastMessageBox[n] = '\0';
}

void FakeDisplays::SetCursor(updater::CursorShape shape) {
  cursor = shape;
  ++cursorChanges;
}

std::string FakeDisplays::Text(int id) const {
  const int slot = Slot(id);
  return slot < 0 ? std::string() : std::string(texts_[slot], lengths_[slot]);
}

bool FakeDisplays::Enabled(int id) const {
  const int slot = Slot(id);
  return slot >= 0 && enabled_[slot];
}

std::string FakeDisplays::SentAt(std::size_t i) const {
  return i < sentCount_ && i < kHistorySize ? std::string(sent_[i]) : std::string();
}

std::string FakeDisplays::InfoAt(std::size_t i) const {
  return i < infoCount_ && i < kHistorySize ? std::string(info_[i]) : std::string();
}

}  // namespace fakes
