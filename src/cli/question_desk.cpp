#include "cli/question_desk.h"

#include <system_error>
#include <utility>

#include "platform/file_system.h"

namespace brisk {

namespace {

// A typed number from 1 to `count`, or nothing.
std::optional<int> choiceNumber(const std::string& text, int count) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '0' + count) return std::nullopt;
  return text[0] - '0';
}

bool isFolder(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
}

std::filesystem::path typedPath(const std::string& text) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(text, error);
  return error ? std::filesystem::path(text) : path.lexically_normal();
}

std::filesystem::path currentFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::current_path(error);
  return error ? std::filesystem::path(".") : folder;
}

}  // namespace

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool QuestionDesk::takeAnswer(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!questionOpen_ || answer_) return false;
  answer_ = line;
  changed_.notify_all();
  return true;
}

void QuestionDesk::closeInput() {
  std::lock_guard lock(mutex_);
  inputClosed_ = true;
  changed_.notify_all();
}

void QuestionDesk::stop() {
  std::lock_guard lock(mutex_);
  inputClosed_ = true;
  stopping_ = true;
  changed_.notify_all();
}

std::optional<std::string> QuestionDesk::ask(const std::string& question,
                                             const std::function<bool()>& withdrawn) {
  const auto gone = [&] { return inputClosed_ || (withdrawn && withdrawn()); };
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !questionOpen_ || gone(); });
  if (gone()) return std::nullopt;
  questionOpen_ = true;
  answer_.reset();
  console_.printLine(question);
  changed_.wait(lock, [&] { return answer_.has_value() || gone(); });
  questionOpen_ = false;
  std::optional<std::string> answer = std::exchange(answer_, std::nullopt);
  changed_.notify_all();
  if (withdrawn && withdrawn()) return std::nullopt;
  if (answer) *answer = trimmed(*answer);
  return answer;
}

void QuestionDesk::watch(PromptHandle& handle) {
  handle.setCloseHook([this] {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  });
}

void QuestionDesk::waitUntilClosed(PromptHandle& handle) {
  watch(handle);
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || handle.closeRequested(); });
  }
  handle.clearCloseHook();
}

bool QuestionDesk::askYesNo() {
  for (;;) {
    const std::optional<std::string> word = ask("请输入 y（是）或 n（否）：");
    if (!word) return false;
    if (*word == "y" || *word == "Y" || *word == "yes" || *word == "是") return true;
    if (*word == "n" || *word == "N" || *word == "no" || *word == "否") return false;
  }
}

PromptAnswer QuestionDesk::askAboutOffer(PromptHandle& handle, const PromptRequest& request) {
  const int count = static_cast<int>(request.captions.size());
  std::string choices;
  for (int i = 0; i < count; ++i) {
    choices += (i ? "  " : "") + std::to_string(i + 1) + " " + request.captions[i];
  }
  watch(handle);
  PromptAnswer answer = PromptAnswer::None;
  while (answer == PromptAnswer::None) {
    const std::optional<std::string> word =
        ask("请选择（" + choices + "）：", [&] { return handle.closeRequested(); });
    if (!word) {
      // Closed from outside (the peer cancelled): no answer. Input gone: the peer is
      // told no rather than left waiting.
      if (!handle.closeRequested()) answer = PromptAnswer::Refuse;
      break;
    }
    std::optional<int> button;
    if (const auto number = choiceNumber(*word, count)) button = *number - 1;
    for (int i = 0; i < count && !button; ++i) {
      if (*word == request.captions[i]) button = i;
    }
    if (button) answer = promptAnswerForButton(request.kind, *button);
  }
  handle.clearCloseHook();
  return answer;
}

CodeAnswer QuestionDesk::askCodeMatch(PromptHandle& handle) {
  watch(handle);
  CodeAnswer answer = CodeAnswer::None;
  for (;;) {
    const std::optional<std::string> word =
        ask("对方屏幕上的验证码和这里的相同吗？请输入 1 相同 或 2 不同：",
            [&] { return handle.closeRequested(); });
    if (!word) break;
    if (*word == "1" || *word == "相同") {
      answer = CodeAnswer::Same;
      break;
    }
    if (*word == "2" || *word == "不同") {
      answer = CodeAnswer::Different;
      break;
    }
  }
  handle.clearCloseHook();
  return answer;
}

std::optional<std::filesystem::path> QuestionDesk::askSaveFile(const std::string& suggestedName) {
  const bool nameUsable = isValidReceivedName(suggestedName);
  const std::filesystem::path fallback = currentFolder() / suggestedName;
  for (;;) {
    const std::optional<std::string> text =
        ask(nameUsable ? "保存为（直接回车：" + fallback.string() + "）：" : "保存为：");
    if (!text) return std::nullopt;
    if (text->empty()) {
      if (nameUsable) return fallback;
      continue;
    }
    const std::filesystem::path path = typedPath(*text);
    if (isFolder(path)) {
      if (nameUsable) return path / suggestedName;
    } else if (path.has_filename() && isFolder(path.parent_path())) {
      return path;
    } else {
      console_.printLine("没有这个文件夹：" + path.parent_path().string());
    }
  }
}

std::optional<std::filesystem::path> QuestionDesk::askResumeFile(const std::string& suggestedName) {
  std::optional<std::filesystem::path> fallback;
  if (isValidReceivedName(suggestedName) && isRegularFile(currentFolder() / suggestedName)) {
    fallback = currentFolder() / suggestedName;
  }
  for (;;) {
    const std::optional<std::string> text =
        ask(fallback ? "要续传的文件（直接回车：" + fallback->string() + "）："
                     : "要续传的文件（直接回车则取消）：");
    if (!text) return std::nullopt;
    if (text->empty()) return fallback;
    if (isRegularFile(typedPath(*text))) return typedPath(*text);
    console_.printLine("没有这个文件：" + typedPath(*text).string());
  }
}

std::optional<std::filesystem::path> QuestionDesk::askFolder() {
  for (;;) {
    const std::optional<std::string> text =
        ask("保存到文件夹（直接回车：" + currentFolder().string() + "）：");
    if (!text) return std::nullopt;
    const std::filesystem::path folder = text->empty() ? currentFolder() : typedPath(*text);
    if (isFolder(folder)) return folder;
    console_.printLine("没有这个文件夹：" + folder.string());
  }
}

FileExistsReply QuestionDesk::askFileExists() {
  constexpr FileExistsAnswer kChoices[] = {FileExistsAnswer::Resume,
                                           FileExistsAnswer::TransferAgain, FileExistsAnswer::Skip,
                                           FileExistsAnswer::Stop};
  for (;;) {
    std::optional<std::string> word = ask(
        "请选择（1 断点续传  2 重新传输  3 忽略跳过  4 终止；加 a 则始终采取相同操作，如 1a）：");
    if (!word) return FileExistsReply{FileExistsAnswer::Stop, false};
    const bool always = !word->empty() && (word->back() == 'a' || word->back() == 'A');
    if (always) word->pop_back();
    if (const auto number = choiceNumber(*word, 4)) {
      return FileExistsReply{kChoices[*number - 1], always};
    }
  }
}

}  // namespace brisk
