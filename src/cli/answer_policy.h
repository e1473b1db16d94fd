#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/question_desk.h"
#include "common/frontend.h"

namespace brisk {

// How the terminal answers what the engine asks.
struct AnswerPolicy {
  enum class Offers { Ask, Accept, Refuse };
  Offers offers = Offers::Ask;
  std::filesystem::path saveTo;  // where Accept puts everything
  bool resume = false;           // Accept takes a single file as a resumption if it can
  std::optional<FileExistsAnswer>
      exists;                            // the answer to every existing file; nothing: ask or stop
  bool interactive = false;              // questions may be asked on the terminal
  std::optional<std::uint64_t> maxSize;  // larger offers are refused without asking
  bool trustFirstContact = false;        // a first-contact code is taken as equal unasked

  // Offers are answered without the person: brisk-peer can serve unattended.
  bool answersOffers() const { return offers != Offers::Ask; }
};

AnswerPolicy answerPolicyFor(const PeerOptions& options, bool inputIsTerminal);

// Answers each question the engine asks: as the policy says where it gives the answer,
// else by asking the person at the desk on an interactive terminal, else the cautious way
// (refuse, cancel, stop, no). Says on the console what it answered. Any thread.
class PolicyAnswers {
 public:
  PolicyAnswers(AnswerPolicy policy, Console& console, QuestionDesk& desk)
      : policy_(std::move(policy)), console_(console), desk_(desk) {}

  const AnswerPolicy& policy() const { return policy_; }

  bool yesNo();
  // The peer's offer; `firstName` is the name of its first item.
  PromptAnswer offer(PromptHandle& handle, const PromptRequest& request,
                     const std::string& firstName);
  std::optional<std::filesystem::path> saveFile(const std::string& suggestedName);
  std::optional<std::filesystem::path> resumeFile(const std::string& suggestedName);
  std::optional<std::filesystem::path> folder();
  FileExistsReply fileExists(const std::filesystem::path& path);
  CodeAnswer codeMatch(PromptHandle& handle);

 private:
  const AnswerPolicy policy_;
  Console& console_;
  QuestionDesk& desk_;

  std::mutex mutex_;
  // Files chosen to be resumed: the existing-file question about one of them has been
  // answered already.
  std::set<std::filesystem::path> resumedFiles_;
};

}  // namespace brisk
