#pragma once

// What the native window's tests share: a file dialog that answers, a window's text, a thread
// timer that drives the window's modal loops, and finding a window the thread has opened.
#include <windows.h>

#include <cstring>
#include <string>

#include "ui/win32/file_chooser.h"

namespace win32test {

// Answers "Abrir archivo" with a path, or cancels when the path is empty.
class AnsweringChooser final : public updater::FileChooser {
 public:
  bool Choose(char* path, std::size_t capacity) override {
    ++calls;
    if (answer.empty() || answer.size() >= capacity)
      return false;
    std::memcpy(path, answer.c_str(), answer.size() + 1);
    return true;
  }
  std::string answer;
  int calls = 0;
};

inline std::string Text(HWND window) {
  static char text[70000];
  text[0] = '\0';
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// A thread timer whose callback is a lambda-free function with a context pointer: the window
// runs it from its message loop, its modal loops and its wait pump alike.
class ThreadTimer {
 public:
  using Callback = void (*)(void* context, int tick);
  ThreadTimer(UINT ms, Callback callback, void* context) {
    current_ = this;
    callback_ = callback;
    context_ = context;
    id_ = SetTimer(nullptr, 0, ms, &ThreadTimer::OnTimer);
  }
  ~ThreadTimer() {
    KillTimer(nullptr, id_);
    current_ = nullptr;
  }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;
  int ticks() const { return ticks_; }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    if (current_ == nullptr)
      return;
    ThreadTimer* self = current_;
    const int tick = self->ticks_++;
    self->callback_(self->context_, tick);
  }
  static inline ThreadTimer* current_ = nullptr;
  Callback callback_;
  void* context_;
  UINT_PTR id_ = 0;
  int ticks_ = 0;
};

// A visible window of this thread with this caption (and this class, when named); nullptr when
// none is open.
inline HWND FindThreadWindow(const std::string& caption, const char* className = nullptr) {
  struct Wanted {
    const std::string& caption;
    const char* className;
    HWND found;
  } wanted{caption, className, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM context) -> BOOL {
        auto* w = reinterpret_cast<Wanted*>(context);
        char name[16] = {};
        GetClassNameA(window, name, sizeof name);
        if (IsWindowVisible(window) && Text(window) == w->caption &&
            (w->className == nullptr || std::strcmp(name, w->className) == 0)) {
          w->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&wanted));
  return wanted.found;
}

}  // namespace win32test
