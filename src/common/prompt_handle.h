#pragma once

#include <functional>
#include <mutex>
#include <string>

namespace brisk {

// An open prompt (the offering side's waiting window or the receiving side's question) as
// the engine sees it. The slot table `tsfwnd` keeps it, so that the dispatcher can read
// the prompt's text and close it from another thread when the peer answers or cancels.
// Closing makes the front end's showPrompt return PromptAnswer::None.
class PromptHandle {
 public:
  explicit PromptHandle(std::string text) : text_(std::move(text)) {}

  // The text shown in the prompt's text box.
  const std::string& text() const { return text_; }

  // Any thread: asks the prompt to close without an answer. Idempotent. Returns after the
  // front end's close hook (if any) has run.
  void close();
  bool closeRequested() const;

  // For front ends, before or while showing the prompt: `hook` runs (on the closing
  // thread) when close() is called; if close() came first it runs at once.
  void setCloseHook(std::function<void()> hook);
  // The front end removes its hook when the prompt's window is gone.
  void clearCloseHook();

 private:
  const std::string text_;
  mutable std::mutex mutex_;
  bool closeRequested_ = false;
  std::function<void()> closeHook_;
};

}  // namespace brisk
