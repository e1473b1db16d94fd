#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "cli/console.h"
#include "common/frontend.h"

namespace brisk {

// Where the person answers brisk-peer's questions on a terminal: one question at a time
// is printed and answered by the next typed line; further questions wait their turn.
// Any thread may ask; the run loop hands in the typed lines.
class QuestionDesk {
 public:
  explicit QuestionDesk(Console& console) : console_(console) {}
  QuestionDesk(const QuestionDesk&) = delete;
  QuestionDesk& operator=(const QuestionDesk&) = delete;

  // A typed line: answers the open question and returns true, or returns false when no
  // question waits for one.
  bool takeAnswer(const std::string& line);
  // No more lines will come: open and later questions get no answer.
  void closeInput();
  // The program is ending: besides closing the input, prompts waiting to be closed from
  // elsewhere return at once.
  void stop();

  // Asks `question` and waits for the typed line, trimmed of blanks; nothing when the
  // input has closed or `withdrawn` says the question no longer matters.
  std::optional<std::string> ask(const std::string& question,
                                 const std::function<bool()>& withdrawn = {});
  // Waits until `handle` is closed from elsewhere, or the program ends.
  void waitUntilClosed(PromptHandle& handle);

  // The questions themselves, each asked again until the answer makes sense. Without
  // an answer each takes the cautious way: no, refuse, cancel, stop.
  bool askYesNo();
  PromptAnswer askAboutOffer(PromptHandle& handle, const PromptRequest& request);
  std::optional<std::filesystem::path> askSaveFile(const std::string& suggestedName);
  std::optional<std::filesystem::path> askResumeFile(const std::string& suggestedName);
  std::optional<std::filesystem::path> askFolder();
  FileExistsReply askFileExists();
  // 相同 or 不同 for a first-contact code; None when closed from elsewhere or without input.
  CodeAnswer askCodeMatch(PromptHandle& handle);

 private:
  // Lets a waiting question see at once that `handle` was closed.
  void watch(PromptHandle& handle);

  Console& console_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool questionOpen_ = false;
  bool inputClosed_ = false;
  bool stopping_ = false;
  std::optional<std::string> answer_;
};

// Text with its blanks and tabs at both ends taken off.
std::string trimmed(const std::string& text);

}  // namespace brisk
