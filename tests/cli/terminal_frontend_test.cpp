#include "cli/terminal_frontend.h"

#include <future>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

const PromptRequest kSingleFileOffer{
    "对方要发送文件给你，你要接收吗？", "报告.txt\t100 bytes\r\n", {"接收", "拒绝", "续传已有文件"}};
const PromptRequest kFolderOffer{"对方要发送文件给你，你要接收吗？",
                                 "照片\t文件夹\t5.0 MB\r\n",
                                 {"接收", "拒绝"}};

// A Console over a string stream whose text can be read while other threads print.
class CapturedOutput {
 public:
  explicit CapturedOutput(bool terminal = false) : console(buffer_, terminal) {}
  std::string text() const {
    std::lock_guard lock(mutex_);
    return buffer_.str();
  }
  bool waitForText(const std::string& part, std::size_t occurrences = 1) const {
    return test::waitFor([&] {
      const std::string all = text();
      std::size_t found = 0;
      for (auto at = all.find(part); at != std::string::npos; at = all.find(part, at + 1)) {
        ++found;
      }
      return found >= occurrences;
    });
  }

 private:
  // Console writes under its own lock; this one only keeps reads apart from writes.
  class LockedBuffer : public std::stringbuf {
   public:
    explicit LockedBuffer(std::mutex& mutex) : mutex_(mutex) {}

   protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      std::lock_guard lock(mutex_);
      return std::stringbuf::xsputn(s, n);
    }
    int_type overflow(int_type c) override {
      std::lock_guard lock(mutex_);
      return std::stringbuf::overflow(c);
    }

   private:
    std::mutex& mutex_;
  };
  class LockedStream : public std::ostream {
   public:
    explicit LockedStream(std::mutex& mutex) : std::ostream(&buffer_), buffer_(mutex) {}
    std::string str() const { return buffer_.str(); }

   private:
    LockedBuffer buffer_;
  };

  mutable std::mutex mutex_;
  LockedStream buffer_{mutex_};

 public:
  Console console;
};

class TerminalFrontendTest : public test::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    saveTo_ = folder("in");
  }

  std::unique_ptr<TerminalFrontend> make(AnswerPolicy::Offers offers, bool interactive = false,
                                         bool resume = false,
                                         std::optional<int> exists = std::nullopt) {
    AnswerPolicy policy;
    policy.offers = offers;
    policy.saveTo = saveTo_;
    policy.resume = resume;
    policy.exists = exists;
    policy.interactive = interactive;
    return std::make_unique<TerminalFrontend>(output_.console, policy);
  }

  // Shows the offer and, on the same thread as the engine does, chooses the resumed file.
  static std::pair<int, std::optional<std::filesystem::path>> offerAndResume(
      TerminalFrontend& frontend, const PromptRequest& offer) {
    PromptHandle handle(offer.text);
    const int result = frontend.showPrompt(handle, offer);
    return {result, result == 1003 ? frontend.chooseResumeFile() : std::nullopt};
  }

  static int show(TerminalFrontend& frontend, const PromptRequest& offer) {
    PromptHandle handle(offer.text);
    return frontend.showPrompt(handle, offer);
  }

  std::filesystem::path saveTo_;
  CapturedOutput output_;
};

TEST_F(TerminalFrontendTest, SaveToAcceptsEveryOfferIntoTheFolder) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  EXPECT_EQ(show(*frontend, kSingleFileOffer), 1001);
  EXPECT_EQ(frontend->chooseSaveFile("报告.txt", "txt"), saveTo_ / "报告.txt");
  EXPECT_EQ(show(*frontend, kFolderOffer), 1001);
  EXPECT_EQ(frontend->chooseFolder(), saveTo_);
  EXPECT_FALSE(frontend->status().firstOutcome);
  // The offer is shown with its body before the decision.
  EXPECT_NE(output_.text().find("对方要发送文件给你，你要接收吗？\n  报告.txt\t100 bytes\n"),
            std::string::npos);
}

TEST_F(TerminalFrontendTest, NamesThatWouldLeaveTheSaveFolderAreRefused) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  for (const std::string name : {"..", ".", "", "a/b", "../up", "tab\x01"}) {
    EXPECT_FALSE(frontend->chooseSaveFile(name, "")) << name;
  }
  const PromptRequest climbing{kSingleFileOffer.line, "../../.bashrc\t1 bytes\r\n",
                               kSingleFileOffer.captions};
  EXPECT_EQ(show(*frontend, climbing), 1002);
  EXPECT_EQ(frontend->status().firstOutcome, false);
}

TEST_F(TerminalFrontendTest, ResumeTakesTheFileOfTheOfferedNameWhenTheFolderHoldsIt) {
  auto frontend = make(AnswerPolicy::Offers::Accept, false, true);
  // Nothing to resume: the file is received whole.
  EXPECT_EQ(offerAndResume(*frontend, kSingleFileOffer).first, 1001);

  test::writeFile(saveTo_ / "报告.txt", "partial");
  const auto [result, file] = offerAndResume(*frontend, kSingleFileOffer);
  EXPECT_EQ(result, 1003);
  EXPECT_EQ(file, saveTo_ / "报告.txt");

  // A folder of that name is nothing to append to; folders and several items are saved.
  std::filesystem::create_directories(saveTo_ / "数据.bin");
  const PromptRequest folderNamed{kSingleFileOffer.line, "数据.bin\t3 bytes\r\n",
                                  kSingleFileOffer.captions};
  EXPECT_EQ(offerAndResume(*frontend, folderNamed).first, 1001);
  EXPECT_EQ(show(*frontend, kFolderOffer), 1001);
}

TEST_F(TerminalFrontendTest, RefusesWhenToldToOrWhenNobodyCanBeAsked) {
  auto refusing = make(AnswerPolicy::Offers::Refuse);
  EXPECT_EQ(show(*refusing, kSingleFileOffer), 1002);
  EXPECT_EQ(refusing->status().firstOutcome, false);
  EXPECT_EQ(refusing->status().openPrompts, 0);

  auto unattended = make(AnswerPolicy::Offers::Ask, false);
  EXPECT_EQ(show(*unattended, kFolderOffer), 1002);
  EXPECT_FALSE(unattended->chooseFolder());
  EXPECT_FALSE(unattended->askYesNo("您要忽略跳过此文件以继续吗？"));
}

TEST_F(TerminalFrontendTest, ExistingFilesGetTheCommandLinesAnswerForTheWholeTransfer) {
  for (const int answer : {kAnswerResume, kAnswerTransferAgain, kAnswerSkip, kAnswerStop}) {
    auto frontend = make(AnswerPolicy::Offers::Accept, true, false, answer);
    const FileExistsReply reply = frontend->askFileExists("文件已经存在：/x\r\n你要：");
    EXPECT_EQ(reply.answer, answer);
    EXPECT_TRUE(reply.alwaysTicked);
  }
  auto byDefault = make(AnswerPolicy::Offers::Accept, false);
  const FileExistsReply reply = byDefault->askFileExists("文件已经存在：/x\r\n你要：");
  EXPECT_EQ(reply.answer, kAnswerStop);
  EXPECT_TRUE(reply.alwaysTicked);
}

TEST_F(TerminalFrontendTest, OnATerminalTheTypedLineAnswersTheOffer) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  EXPECT_FALSE(frontend->takeAnswer("chat before any question"));
  auto result = std::async(std::launch::async, [&] { return show(*frontend, kSingleFileOffer); });
  ASSERT_TRUE(output_.waitForText("请选择（1 接收  2 拒绝  3 续传已有文件）"));
  EXPECT_EQ(frontend->status().openPrompts, 1);
  ASSERT_TRUE(frontend->takeAnswer("9"));
  ASSERT_TRUE(output_.waitForText("请选择", 2));  // asked again
  ASSERT_TRUE(frontend->takeAnswer(" 3 "));
  EXPECT_EQ(result.get(), 1003);

  result = std::async(std::launch::async, [&] { return show(*frontend, kFolderOffer); });
  ASSERT_TRUE(output_.waitForText("请选择", 3));
  ASSERT_TRUE(frontend->takeAnswer("拒绝"));
  EXPECT_EQ(result.get(), 1002);
}

TEST_F(TerminalFrontendTest, AnOfferWithdrawnWhileAskedGetsNoAnswer) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  PromptHandle handle(kFolderOffer.text);
  auto result =
      std::async(std::launch::async, [&] { return frontend->showPrompt(handle, kFolderOffer); });
  ASSERT_TRUE(output_.waitForText("请选择"));
  handle.close();  // the peer cancelled
  EXPECT_EQ(result.get(), 0);
  // The question is gone: the next line is chat again.
  EXPECT_FALSE(frontend->takeAnswer("1"));
  EXPECT_EQ(frontend->status().firstOutcome, false);
}

TEST_F(TerminalFrontendTest, ClosedInputRefusesTheOfferRatherThanLeaveThePeerWaiting) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  auto result = std::async(std::launch::async, [&] { return show(*frontend, kSingleFileOffer); });
  ASSERT_TRUE(output_.waitForText("请选择"));
  frontend->closeInput();
  EXPECT_EQ(result.get(), 1002);
  // Later questions do not wait for input that cannot come.
  EXPECT_EQ(frontend->askFileExists("文件已经存在：/x\r\n你要：").answer, kAnswerStop);
  EXPECT_FALSE(frontend->chooseSaveFile("a.txt", "txt"));
}

TEST_F(TerminalFrontendTest, QuestionsFromTwoThreadsAreAskedOneAfterTheOther) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  auto first = std::async(std::launch::async,
                          [&] { return frontend->askFileExists("文件已经存在：/one\r\n你要："); });
  ASSERT_TRUE(output_.waitForText("加 a 则始终采取相同操作"));
  auto second = std::async(std::launch::async,
                           [&] { return frontend->askFileExists("文件已经存在：/two\r\n你要："); });
  ASSERT_TRUE(output_.waitForText("/two"));
  EXPECT_EQ(frontend->status().openQuestions, 2);
  ASSERT_TRUE(frontend->takeAnswer("2a"));
  const FileExistsReply one = first.get();
  EXPECT_EQ(one.answer, kAnswerTransferAgain);
  EXPECT_TRUE(one.alwaysTicked);
  ASSERT_TRUE(output_.waitForText("加 a 则始终采取相同操作", 2));
  ASSERT_TRUE(frontend->takeAnswer("3"));
  const FileExistsReply two = second.get();
  EXPECT_EQ(two.answer, kAnswerSkip);
  EXPECT_FALSE(two.alwaysTicked);
}

TEST_F(TerminalFrontendTest, OnATerminalSaveLocationsAreTypedAndChecked) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  const std::filesystem::path elsewhere = folder("elsewhere");

  auto file = std::async(std::launch::async, [&] { return frontend->chooseSaveFile("a.txt", ""); });
  ASSERT_TRUE(output_.waitForText("保存为"));
  ASSERT_TRUE(frontend->takeAnswer(elsewhere.string()));  // a folder: the offered name in it
  EXPECT_EQ(file.get(), elsewhere / "a.txt");

  auto folderChoice = std::async(std::launch::async, [&] { return frontend->chooseFolder(); });
  ASSERT_TRUE(output_.waitForText("保存到文件夹"));
  ASSERT_TRUE(frontend->takeAnswer((root() / "missing").string()));
  ASSERT_TRUE(output_.waitForText("没有这个文件夹"));
  ASSERT_TRUE(frontend->takeAnswer(elsewhere.string()));
  EXPECT_EQ(folderChoice.get(), elsewhere);

  auto resumed = std::async(std::launch::async, [&] { return frontend->chooseResumeFile(); });
  ASSERT_TRUE(output_.waitForText("要续传的文件"));
  ASSERT_TRUE(frontend->takeAnswer((elsewhere / "none").string()));
  ASSERT_TRUE(output_.waitForText("没有这个文件："));
  ASSERT_TRUE(frontend->takeAnswer(""));  // no file offered by name here: cancels
  EXPECT_FALSE(resumed.get());
}

TEST_F(TerminalFrontendTest, OwnOfferWaitsUntilThePeerAnswers) {
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  PromptHandle handle("a.txt\t1 bytes");
  auto result = std::async(std::launch::async, [&] {
    return frontend->showPrompt(handle, {"发送文件给对方，等待对方接收...", handle.text(), {"取消"}});
  });
  ASSERT_TRUE(output_.waitForText("等待对方接收"));
  EXPECT_EQ(frontend->status().openPrompts, 1);
  // Typed lines are chat, never the cancel button.
  EXPECT_FALSE(frontend->takeAnswer("1"));
  EXPECT_EQ(result.wait_for(50ms), std::future_status::timeout);
  handle.close();
  EXPECT_EQ(result.get(), 0);
  EXPECT_EQ(frontend->status().openPrompts, 0);

  PromptHandle forgotten("b.txt\t1 bytes");
  result = std::async(std::launch::async, [&] {
    return frontend->showPrompt(forgotten,
                                {"发送文件给对方，等待对方接收...", forgotten.text(), {"取消"}});
  });
  ASSERT_TRUE(output_.waitForText("b.txt"));
  frontend->stop();  // the program ends
  EXPECT_EQ(result.get(), 0);
}

TEST_F(TerminalFrontendTest, PrintsWhatThePeerSentAndNoticesButNotOwnEcho) {
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  frontend->appendLog("连接成功！\r\n", kGreen);
  frontend->appendLog("你好\r\n第二行\r\n", kBlack);
  frontend->appendLog("my own line\r\n", kBlue);
  frontend->appendLog("accept failed.\r\nError code: 98\r\n", kRed);
  frontend->showNotice("bind failed.");
  EXPECT_EQ(output_.text(),
            "连接成功！\n你好\n第二行\naccept failed.\nError code: 98\n[提示信息] bind failed.\n");
}

TEST_F(TerminalFrontendTest, LinkStatesTellAFailedLinkFromAClosedOne) {
  auto failing = make(AnswerPolicy::Offers::Refuse);
  failing->showLinkState(LinkState::Connecting);
  EXPECT_FALSE(failing->status().linkEnded);
  failing->showLinkState(LinkState::Idle);
  EXPECT_TRUE(failing->status().linkEnded);
  EXPECT_FALSE(failing->status().everConnected);

  auto closing = make(AnswerPolicy::Offers::Refuse);
  int changes = 0;
  closing->setStatusListener([&] { ++changes; });
  closing->showLinkState(LinkState::Listening);
  closing->showLinkState(LinkState::Connected);
  EXPECT_FALSE(closing->status().linkEnded);
  closing->showLinkState(LinkState::Idle);
  EXPECT_TRUE(closing->status().linkEnded);
  EXPECT_TRUE(closing->status().everConnected);
  EXPECT_EQ(changes, 3);
}

TEST_F(TerminalFrontendTest, PeersRefusalEndsTheFirstOffer) {
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  frontend->showNotice("对方不同意接收文件。\r\n\r\na.txt\t1 bytes");
  EXPECT_EQ(frontend->status().firstOutcome, false);
}

TEST_F(TerminalFrontendTest, TransferShowsALineEverySecondAndItsVerdict) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  const TransferWindowId window =
      frontend->openTransferWindow(TransferWindowSpec{3, false, -1, false, {}, {}});
  EXPECT_EQ(frontend->status().openTransfers, 1);
  frontend->setTransferFileName(window, "/in/照片/一.jpg");
  frontend->showTransferFigures(window, {45, 20, std::nullopt});
  const std::string beforeTexts = output_.text();
  frontend->showTransferFigures(
      window, {std::nullopt, 30, TransferTexts{"5.0 MB", "2.2 MB", "1.1 MB/s", "3 s  "}});
  frontend->showTransferVerdict(window, {true, "传送完毕！", true, false});
  // A second transfer's verdict does not change how the first one ended.
  const TransferWindowId later =
      frontend->openTransferWindow(TransferWindowSpec{4, true, 1, false, {}, {}});
  frontend->showTransferVerdict(later, {false, "传送中止！", false, false});

  EXPECT_EQ(beforeTexts.find("45%"), std::string::npos);  // bars alone print nothing
  EXPECT_EQ(output_.text(),
            "接收文件 Index: 3  开始\n"
            "接收文件 Index: 3  文件名：/in/照片/一.jpg\n"
            "接收文件 Index: 3  一.jpg  45%  总计 30%  已经传送：2.2 MB / 5.0 MB  "
            "传送速度：1.1 MB/s  已用时间：3 s\n"
            "接收文件 Index: 3  传送完毕！\n"
            "发送文件 Index: 4  开始\n"
            "发送文件 Index: 4  传送中止！\n");
  EXPECT_EQ(frontend->status().openTransfers, 0);
  EXPECT_EQ(frontend->status().firstOutcome, true);
}

TEST_F(TerminalFrontendTest, OnATerminalProgressIsOneLiveLine) {
  CapturedOutput terminal(true);
  AnswerPolicy policy;
  TerminalFrontend frontend(terminal.console, policy);
  const TransferWindowId window =
      frontend.openTransferWindow(TransferWindowSpec{1, true, 1, false, {}, {}});
  frontend.showTransferFigures(window, {150, std::nullopt, std::nullopt});
  frontend.showTransferVerdict(window, {true, "传送完毕！", false, false});
  // A position past 100 is a full bar; the verdict replaces the live line.
  EXPECT_EQ(terminal.text(),
            "发送文件 Index: 1  开始\n发送文件 Index: 1  100%\r\x1B[K发送文件 Index: 1  传送完毕！\n");
}

}  // namespace
}  // namespace brisk
