#include "common/prompt_handle.h"

namespace brisk {

void PromptHandle::close() {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    if (closeRequested_) return;
    closeRequested_ = true;
    hook = closeHook_;
  }
  if (hook) hook();
}

bool PromptHandle::closeRequested() const {
  std::lock_guard lock(mutex_);
  return closeRequested_;
}

void PromptHandle::setCloseHook(std::function<void()> hook) {
  bool runNow = false;
  {
    std::lock_guard lock(mutex_);
    closeHook_ = hook;
    runNow = closeRequested_;
  }
  if (runNow && hook) hook();
}

void PromptHandle::clearCloseHook() {
  std::lock_guard lock(mutex_);
  closeHook_ = nullptr;
}

}  // namespace brisk
