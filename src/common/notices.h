#pragma once

#include <cerrno>
#include <string>

#include "common/frontend.h"
#include "common/timing.h"

namespace brisk {

// Appends the error suffix for `code` to `text`: a line break unless the text already
// ends with "\n", then "Error code: <code>\r\n" and the system's message with "\r\n".
void appendErrorText(int code, std::string& text);
// The same for the calling thread's errno, read before anything else happens.
void appendLastErrorText(std::string& text);

// Marks the calling thread, while it lives, as one whose notices never pause: the thread
// that reads the control connection must keep reading, whatever a peer sends, and a
// stream of malformed messages must not hold it (and the peers behind it) for seconds.
class NoNoticePauseHere {
 public:
  NoNoticePauseHere();
  ~NoNoticePauseHere();
  NoNoticePauseHere(const NoNoticePauseHere&) = delete;
  NoNoticePauseHere& operator=(const NoNoticePauseHere&) = delete;

 private:
  bool previous_;
};

// The notices every part raises. Each function copies its text, so the caller may reuse
// its buffer at once. Callable from any thread.
class Notices {
 public:
  Notices(Frontend& frontend, const Timing& timing) : frontend_(frontend), timing_(timing) {}

  // Shows the text in a box of its own and returns after the short notice pause, which
  // spaces out bursts of notices (at once on the window's thread and on a thread marked
  // NoNoticePauseHere); the caller never waits for the person.
  void showNotice(const std::string& text) const;
  // Shows the text and returns when the person has closed the box.
  void showNoticeModal(const std::string& text) const;
  // first + "\r\n" + second, shown as showNotice does.
  void showJoinedNotice(const std::string& first, const std::string& second) const;
  // The text with the error suffix of `code` (by default the caller's errno, read first).
  void showErrorNotice(const std::string& text, int code = errno) const;

 private:
  Frontend& frontend_;
  const Timing& timing_;
};

}  // namespace brisk
