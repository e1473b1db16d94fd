#include "cli/answer_policy.h"

#include <system_error>
#include <utility>

#include "common/size_text.h"
#include "platform/file_system.h"

namespace brisk {

namespace {

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

std::string existsAnswerText(FileExistsAnswer answer) {
  switch (answer) {
    case FileExistsAnswer::Resume:
      return "断点续传";
    case FileExistsAnswer::TransferAgain:
      return "重新传输";
    case FileExistsAnswer::Skip:
      return "忽略跳过";
    case FileExistsAnswer::Stop:
    case FileExistsAnswer::None:
      break;
  }
  return "终止";
}

}  // namespace

AnswerPolicy answerPolicyFor(const PeerOptions& options, bool inputIsTerminal) {
  AnswerPolicy policy;
  if (options.saveTo) {
    policy.offers = AnswerPolicy::Offers::Accept;
    policy.saveTo = *options.saveTo;
  } else if (options.refuse) {
    policy.offers = AnswerPolicy::Offers::Refuse;
  }
  policy.resume = options.resume;
  policy.exists = options.existsAnswer;
  policy.interactive = inputIsTerminal;
  policy.maxSize = options.maxSize;
  policy.trustFirstContact = options.trustFirstContact;
  return policy;
}

bool PolicyAnswers::yesNo() {
  if (!policy_.interactive) {
    console_.printLine("→ 否");
    return false;
  }
  return desk_.askYesNo();
}

CodeAnswer PolicyAnswers::codeMatch(PromptHandle& handle) {
  if (policy_.trustFirstContact) {
    console_.printLine("→ 相同（--trust-first-contact）");
    return CodeAnswer::Same;
  }
  if (policy_.interactive) return desk_.askCodeMatch(handle);
  // Nobody can compare: the peer stays a stranger.
  console_.printLine("→ 不信任（标准输入不是终端，无法核对验证码）");
  return CodeAnswer::None;
}

PromptAnswer PolicyAnswers::offer(PromptHandle& handle, const PromptRequest& request,
                                  const std::string& firstName) {
  const bool singleFile = request.kind == PromptKind::PeerSingleFileOffer;
  if (policy_.maxSize && request.offeredBytes > *policy_.maxSize) {
    console_.printLine("→ 拒绝：" + sizeText(request.offeredBytes) + " 超过 --max-size " +
                       sizeText(*policy_.maxSize));
    return PromptAnswer::Refuse;
  }
  switch (policy_.offers) {
    case AnswerPolicy::Offers::Accept:
      if (singleFile && !isValidReceivedName(firstName)) {
        console_.printLine("→ 拒绝：文件名不能用于保存");
        return PromptAnswer::Refuse;
      }
      if (singleFile && policy_.resume && isRegularFile(policy_.saveTo / firstName)) {
        console_.printLine("→ 续传已有文件 " + (policy_.saveTo / firstName).string());
        return PromptAnswer::Resume;
      }
      console_.printLine("→ 接收到 " + policy_.saveTo.string());
      return PromptAnswer::Accept;
    case AnswerPolicy::Offers::Refuse:
      console_.printLine("→ 拒绝");
      return PromptAnswer::Refuse;
    case AnswerPolicy::Offers::Ask:
      break;
  }
  if (policy_.interactive) return desk_.askAboutOffer(handle, request);
  console_.printLine("→ 拒绝（标准输入不是终端，无法询问）");
  return PromptAnswer::Refuse;
}

std::optional<std::filesystem::path> PolicyAnswers::saveFile(const std::string& suggestedName) {
  if (policy_.offers == AnswerPolicy::Offers::Accept) {
    // The name comes from the peer: it must not lead out of the save folder.
    if (!isValidReceivedName(suggestedName)) return std::nullopt;
    return policy_.saveTo / suggestedName;
  }
  if (!policy_.interactive) return std::nullopt;
  return desk_.askSaveFile(suggestedName);
}

std::optional<std::filesystem::path> PolicyAnswers::resumeFile(const std::string& suggestedName) {
  std::optional<std::filesystem::path> chosen;
  if (policy_.offers == AnswerPolicy::Offers::Accept) {
    if (isValidReceivedName(suggestedName)) chosen = policy_.saveTo / suggestedName;
  } else if (policy_.interactive) {
    chosen = desk_.askResumeFile(suggestedName);
  }
  if (chosen) {
    std::lock_guard lock(mutex_);
    resumedFiles_.insert(*chosen);
  }
  return chosen;
}

std::optional<std::filesystem::path> PolicyAnswers::folder() {
  if (policy_.offers == AnswerPolicy::Offers::Accept) return policy_.saveTo;
  if (!policy_.interactive) return std::nullopt;
  return desk_.askFolder();
}

FileExistsReply PolicyAnswers::fileExists(const std::filesystem::path& path) {
  // The file was accepted as a resumption a moment ago: that was the answer already.
  bool resumed = false;
  {
    std::lock_guard lock(mutex_);
    resumed = resumedFiles_.erase(path) != 0;
  }
  if (resumed) {
    console_.printLine("→ " + existsAnswerText(FileExistsAnswer::Resume));
    return FileExistsReply{FileExistsAnswer::Resume, false};
  }
  // An answer from the command line holds for every file, so the transfer asks no more.
  if (policy_.exists || !policy_.interactive) {
    const FileExistsAnswer answer = policy_.exists.value_or(FileExistsAnswer::Stop);
    console_.printLine("→ " + existsAnswerText(answer));
    return FileExistsReply{answer, true};
  }
  return desk_.askFileExists();
}

}  // namespace brisk
