#include "cli/terminal_frontend.h"
#include "cli/peer_run.h"

#include <atomic>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "cli/peer_run.h"
#include "support/test_support.h"

namespace brisk {
namespace {

using namespace std::chrono_literals;

const PromptRequest kSingleFileOffer{"对方要发送文件给你，你要接收吗？",
                                     "报告.txt\t100 bytes\r\n",
                                     {"接收", "拒绝", "续传已有文件"},
                                     PromptKind::PeerSingleFileOffer};
const PromptRequest kFolderOffer{"对方要发送文件给你，你要接收吗？",
                                 "照片\t文件夹\t5.0 MB\r\n",
                                 {"接收", "拒绝"},
                                 PromptKind::PeerItemsOffer};

// A single-file offer of `body`.
PromptRequest singleFileOffer(const std::string& body) {
  PromptRequest offer = kSingleFileOffer;
  offer.text = body;
  return offer;
}

class TerminalFrontendTest : public test::Sandbox {
 protected:
  void SetUp() override {
    Sandbox::SetUp();
    saveTo_ = folder("in");
  }

  std::unique_ptr<TerminalFrontend> make(AnswerPolicy::Offers offers, bool interactive = false,
                                         bool resume = false,
                                         std::optional<FileExistsAnswer> exists = std::nullopt) {
    AnswerPolicy policy;
    policy.offers = offers;
    policy.saveTo = saveTo_;
    policy.resume = resume;
    policy.exists = exists;
    policy.interactive = interactive;
    return std::make_unique<TerminalFrontend>(console_, policy);
  }

  // Shows the offer and, as the engine does, chooses the resumed file under the name of
  // the offer's first item.
  static std::pair<PromptAnswer, std::optional<std::filesystem::path>> offerAndResume(
      TerminalFrontend& frontend, const PromptRequest& offer) {
    PromptHandle handle(offer.text);
    const PromptAnswer result = frontend.showPrompt(handle, offer);
    const std::string name = offer.text.substr(0, offer.text.find('\t'));
    return {result,
            result == PromptAnswer::Resume ? frontend.chooseResumeFile(name) : std::nullopt};
  }

  static PromptAnswer show(TerminalFrontend& frontend, const PromptRequest& offer) {
    PromptHandle handle(offer.text);
    return frontend.showPrompt(handle, offer);
  }

  // Typed as soon as a question waits for it.
  static bool type(TerminalFrontend& frontend, const std::string& line) {
    return test::waitFor([&] { return frontend.takeAnswer(line); });
  }

  // Read only while no other thread prints.
  std::string output() const { return out_.str(); }

  std::filesystem::path saveTo_;
  std::ostringstream out_;
  Console console_{out_, false};
};

TEST_F(TerminalFrontendTest, SaveToAcceptsEveryOfferIntoTheFolder) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  EXPECT_EQ(show(*frontend, kSingleFileOffer), PromptAnswer::Accept);
  EXPECT_EQ(frontend->chooseSaveFile("报告.txt", "txt"), saveTo_ / "报告.txt");
  EXPECT_EQ(show(*frontend, kFolderOffer), PromptAnswer::Accept);
  EXPECT_EQ(frontend->chooseFolder(), saveTo_);
  EXPECT_FALSE(frontend->status().firstOutcome);
  // The offer is shown with its body before the decision.
  EXPECT_NE(output().find("对方要发送文件给你，你要接收吗？\n  报告.txt\t100 bytes\n"),
            std::string::npos);
}

TEST_F(TerminalFrontendTest, NamesThatWouldLeaveTheSaveFolderAreRefused) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  for (const std::string name : {"..", ".", "", "a/b", "../up", "tab\x01"}) {
    EXPECT_FALSE(frontend->chooseSaveFile(name, "")) << name;
  }
  EXPECT_EQ(show(*frontend, singleFileOffer("../../.bashrc\t1 bytes\r\n")), PromptAnswer::Refuse);
}

TEST_F(TerminalFrontendTest, ResumeTakesTheFileOfTheOfferedNameWhenTheFolderHoldsIt) {
  auto frontend = make(AnswerPolicy::Offers::Accept, false, true);
  // Nothing to resume: the file is received whole.
  EXPECT_EQ(offerAndResume(*frontend, kSingleFileOffer).first, PromptAnswer::Accept);

  test::writeFile(saveTo_ / "报告.txt", "partial");
  const auto [result, file] = offerAndResume(*frontend, kSingleFileOffer);
  EXPECT_EQ(result, PromptAnswer::Resume);
  EXPECT_EQ(file, saveTo_ / "报告.txt");

  // A folder of that name is nothing to append to; folders and several items are saved.
  std::filesystem::create_directories(saveTo_ / "数据.bin");
  EXPECT_EQ(offerAndResume(*frontend, singleFileOffer("数据.bin\t3 bytes\r\n")).first,
            PromptAnswer::Accept);
  EXPECT_EQ(show(*frontend, kFolderOffer), PromptAnswer::Accept);
}

TEST_F(TerminalFrontendTest, FileAcceptedAsAResumptionIsResumedWithoutAskingAgain) {
  auto frontend = make(AnswerPolicy::Offers::Accept, false, true, FileExistsAnswer::Stop);
  test::writeFile(saveTo_ / "报告.txt", "partial");
  ASSERT_EQ(offerAndResume(*frontend, kSingleFileOffer).first, PromptAnswer::Resume);
  // Another file is no resumption.
  EXPECT_EQ(frontend->askFileExists(saveTo_ / "其他.txt").answer, FileExistsAnswer::Stop);
  EXPECT_EQ(frontend->askFileExists(saveTo_ / "报告.txt").answer, FileExistsAnswer::Resume);
  // Only that once: the same file in a later transfer gets the command line's answer.
  EXPECT_EQ(frontend->askFileExists(saveTo_ / "报告.txt").answer, FileExistsAnswer::Stop);
  EXPECT_NE(output().find("文件已经存在：" + (saveTo_ / "报告.txt").string() + "\n你要：\n"),
            std::string::npos);
}

TEST_F(TerminalFrontendTest, RefusesWhenToldToOrWhenNobodyCanBeAsked) {
  auto refusing = make(AnswerPolicy::Offers::Refuse);
  EXPECT_EQ(show(*refusing, kSingleFileOffer), PromptAnswer::Refuse);
  EXPECT_EQ(refusing->status().openPrompts, 0);

  auto unattended = make(AnswerPolicy::Offers::Ask, false);
  EXPECT_EQ(show(*unattended, kFolderOffer), PromptAnswer::Refuse);
  EXPECT_FALSE(unattended->chooseFolder());
  EXPECT_FALSE(unattended->askYesNo("您要忽略跳过此文件以继续吗？"));
}

// --max-size: an unattended inbox takes offers up to that size and refuses larger ones,
// whatever else it would do with them.
TEST_F(TerminalFrontendTest, OffersLargerThanTheMaximumAreRefused) {
  const struct {
    std::uint64_t offered;
    PromptAnswer answer;
  } rows[] = {{1000, PromptAnswer::Accept},
              {1024, PromptAnswer::Accept},
              {1025, PromptAnswer::Refuse},
              {UINT64_MAX, PromptAnswer::Refuse}};
  for (const auto& [offered, answer] : rows) {
    AnswerPolicy policy;
    policy.offers = AnswerPolicy::Offers::Accept;
    policy.saveTo = saveTo_;
    policy.maxSize = 1024;
    TerminalFrontend frontend(console_, policy);
    PromptRequest offer = kFolderOffer;
    offer.offeredBytes = offered;
    EXPECT_EQ(show(frontend, offer), answer) << offered;
  }
  EXPECT_NE(output().find("超过 --max-size 1 KB"), std::string::npos) << output();
}

TEST_F(TerminalFrontendTest, ExistingFilesGetTheCommandLinesAnswerForTheWholeTransfer) {
  for (const FileExistsAnswer answer : {FileExistsAnswer::Resume, FileExistsAnswer::TransferAgain,
                                        FileExistsAnswer::Skip, FileExistsAnswer::Stop}) {
    auto frontend = make(AnswerPolicy::Offers::Accept, true, false, answer);
    const FileExistsReply reply = frontend->askFileExists("/x");
    EXPECT_EQ(reply.answer, answer);
    EXPECT_TRUE(reply.alwaysTicked);
  }
  auto byDefault = make(AnswerPolicy::Offers::Accept, false);
  const FileExistsReply reply = byDefault->askFileExists("/x");
  EXPECT_EQ(reply.answer, FileExistsAnswer::Stop);
  EXPECT_TRUE(reply.alwaysTicked);
}

TEST_F(TerminalFrontendTest, OnATerminalTheTypedLineAnswersTheOffer) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  EXPECT_FALSE(frontend->takeAnswer("chat before any question"));
  auto result = std::async(std::launch::async, [&] { return show(*frontend, kSingleFileOffer); });
  ASSERT_TRUE(type(*frontend, "9"));    // no such choice: asked again
  ASSERT_TRUE(type(*frontend, " 3 "));  // the third button
  EXPECT_EQ(result.get(), PromptAnswer::Resume);
  EXPECT_NE(output().find("请选择（1 接收  2 拒绝  3 续传已有文件）"), std::string::npos);

  result = std::async(std::launch::async, [&] { return show(*frontend, kFolderOffer); });
  ASSERT_TRUE(type(*frontend, "拒绝"));
  EXPECT_EQ(result.get(), PromptAnswer::Refuse);
}

TEST_F(TerminalFrontendTest, AnOfferWithdrawnWhileAskedGetsNoAnswer) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  PromptHandle handle(kFolderOffer.text);
  auto result =
      std::async(std::launch::async, [&] { return frontend->showPrompt(handle, kFolderOffer); });
  ASSERT_TRUE(test::waitFor([&] { return frontend->status().openPrompts == 1; }));
  handle.close();  // the peer cancelled
  EXPECT_EQ(result.get(), PromptAnswer::None);
  // The question is gone: the next line is chat again.
  EXPECT_FALSE(frontend->takeAnswer("1"));
}

TEST_F(TerminalFrontendTest, ClosedInputRefusesTheOfferRatherThanLeaveThePeerWaiting) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  auto result = std::async(std::launch::async, [&] { return show(*frontend, kSingleFileOffer); });
  ASSERT_TRUE(test::waitFor([&] { return frontend->status().openPrompts == 1; }));
  frontend->closeInput();
  EXPECT_EQ(result.get(), PromptAnswer::Refuse);
  // Later questions do not wait for input that cannot come.
  EXPECT_EQ(frontend->askFileExists("/x").answer, FileExistsAnswer::Stop);
  EXPECT_FALSE(frontend->chooseSaveFile("a.txt", "txt"));
}

TEST_F(TerminalFrontendTest, QuestionsFromTwoThreadsGetOneAnswerEach) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  const auto asking = [&](const char* path) {
    return std::async(std::launch::async,
                      [&frontend, path] { return frontend->askFileExists(path); });
  };
  auto first = asking("/one");
  auto second = asking("/two");
  ASSERT_TRUE(test::waitFor([&] { return frontend->status().openQuestions == 2; }));
  ASSERT_TRUE(type(*frontend, "2a"));
  ASSERT_TRUE(type(*frontend, "3"));
  const FileExistsReply one = first.get();
  const FileExistsReply two = second.get();
  // Either may have been asked first; each took one of the lines.
  const FileExistsReply& again = one.answer == FileExistsAnswer::TransferAgain ? one : two;
  const FileExistsReply& skip = one.answer == FileExistsAnswer::TransferAgain ? two : one;
  EXPECT_EQ(again.answer, FileExistsAnswer::TransferAgain);
  EXPECT_TRUE(again.alwaysTicked);
  EXPECT_EQ(skip.answer, FileExistsAnswer::Skip);
  EXPECT_FALSE(skip.alwaysTicked);
}

TEST_F(TerminalFrontendTest, OnATerminalSaveLocationsAreTypedAndChecked) {
  auto frontend = make(AnswerPolicy::Offers::Ask, true);
  const std::filesystem::path elsewhere = folder("elsewhere");

  auto file = std::async(std::launch::async, [&] { return frontend->chooseSaveFile("a.txt", ""); });
  ASSERT_TRUE(type(*frontend, elsewhere.string()));  // a folder: the offered name in it
  EXPECT_EQ(file.get(), elsewhere / "a.txt");

  auto folderChoice = std::async(std::launch::async, [&] { return frontend->chooseFolder(); });
  ASSERT_TRUE(type(*frontend, (root() / "missing").string()));
  ASSERT_TRUE(type(*frontend, elsewhere.string()));
  EXPECT_EQ(folderChoice.get(), elsewhere);

  auto resumed = std::async(std::launch::async, [&] { return frontend->chooseResumeFile("none"); });
  ASSERT_TRUE(type(*frontend, (elsewhere / "none").string()));
  ASSERT_TRUE(type(*frontend, ""));  // no file offered by name here: cancels
  EXPECT_FALSE(resumed.get());
  EXPECT_NE(output().find("没有这个文件夹：" + (root() / "missing").string()), std::string::npos);
  EXPECT_NE(output().find("没有这个文件：" + (elsewhere / "none").string()), std::string::npos);
}

TEST_F(TerminalFrontendTest, OwnOfferWaitsUntilThePeerAnswers) {
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  // Set just before the test ends the wait; a prompt that returns earlier reads as Accept,
  // which a waiting prompt never answers.
  std::atomic<bool> ending{false};
  const auto waiting = [&](PromptHandle& handle) {
    return std::async(std::launch::async, [&frontend, &handle, &ending] {
      const PromptAnswer answer = frontend->showPrompt(handle, {"发送文件给对方，等待对方接收...",
                                                                handle.text(),
                                                                {"取消"},
                                                                PromptKind::OwnOfferWaiting});
      return ending ? answer : PromptAnswer::Accept;
    });
  };
  PromptHandle answered("a.txt\t1 bytes");
  auto result = waiting(answered);
  ASSERT_TRUE(test::waitFor([&] { return frontend->status().openPrompts == 1; }));
  // Typed lines are chat, never the cancel button.
  EXPECT_FALSE(frontend->takeAnswer("1"));
  EXPECT_EQ(frontend->status().openPrompts, 1);
  ending = true;
  answered.close();
  EXPECT_EQ(result.get(), PromptAnswer::None);
  EXPECT_EQ(frontend->status().openPrompts, 0);

  ending = false;
  PromptHandle forgotten("b.txt\t1 bytes");
  result = waiting(forgotten);
  ASSERT_TRUE(test::waitFor([&] { return frontend->status().openPrompts == 1; }));
  ending = true;
  frontend->beginShutdown();  // the program ends
  EXPECT_EQ(result.get(), PromptAnswer::None);
}

TEST_F(TerminalFrontendTest, PrintsWhatThePeerSentAndNoticesButNotOwnEcho) {
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  frontend->appendLog("连接成功！\r\n", kGreen);
  frontend->appendLog("你好\r\n第二行\r\n", kBlack);
  frontend->appendLog("my own line\r\n", kBlue);
  frontend->appendLog("accept failed.\r\nError code: 98\r\n", kRed);
  frontend->showNotice("bind failed.");
  EXPECT_EQ(output(),
            "连接成功！\n你好\n第二行\naccept failed.\nError code: 98\n[提示信息] bind failed.\n");
}

// A stranger's offer of thousands of lines would bury an inbox's journal: a control
// message and an offer show their start and how much was left out; chat is shown whole.
TEST_F(TerminalFrontendTest, HugeOffersShowTheirStartAndChatIsWhole) {
  std::string items;
  for (int i = 0; i < 1000; ++i) items += "file" + std::to_string(i) + ".txt\t1 KB\r\n";
  auto frontend = make(AnswerPolicy::Offers::Refuse);
  frontend->appendLog("TRANSFILE:ASK:Index:1\r\n" + items, kBlack);
  PromptRequest offer = kFolderOffer;
  offer.text = items;
  show(*frontend, offer);
  const std::string chat(10000, 'c');
  frontend->appendLog(chat + "\r\n", kBlack);
  const std::string shown = output();
  EXPECT_LT(shown.size(), 2 * 4000 + chat.size() + 500);
  EXPECT_NE(shown.find("file0.txt"), std::string::npos);
  EXPECT_EQ(shown.find("file999.txt"), std::string::npos);
  EXPECT_NE(shown.find("个字符未显示）"), std::string::npos);
  EXPECT_NE(shown.find(chat), std::string::npos);
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

TEST_F(TerminalFrontendTest, TheFirstOfferEndsAsTheEngineReportsIt) {
  auto receiving = make(AnswerPolicy::Offers::Refuse);
  EXPECT_EQ(show(*receiving, kSingleFileOffer), PromptAnswer::Refuse);
  // Until the engine reports the refusal sent, ending would cut off the answer the peer
  // waits for; neither the texts shown nor the own echo of a reply end the offer.
  receiving->appendLog("TRANSFILE:REPLY:NO:Index:1\r\n", kBlue);
  receiving->showNotice("对方不同意接收文件。\r\n\r\na.txt\t1 bytes");
  EXPECT_FALSE(receiving->status().firstOutcome);

  const std::pair<OfferOutcome, RunOutcome> offerEnds[] = {
      {OfferOutcome::Refused, RunOutcome::Refused},
      {OfferOutcome::Cancelled, RunOutcome::Incomplete},
      {OfferOutcome::Failed, RunOutcome::Incomplete},
  };
  for (const auto& [outcome, run] : offerEnds) {
    for (const bool own : {false, true}) {
      auto frontend = make(AnswerPolicy::Offers::Refuse);
      frontend->judgeOwnOffers(own);
      // The other side's offer, crossing or unrelated, decides nothing.
      frontend->offerEnded({7, !own, outcome});
      frontend->transferEnded({8, !own, false});
      EXPECT_FALSE(frontend->status().firstOutcome);
      frontend->offerEnded({1, own, outcome});
      EXPECT_EQ(frontend->status().firstOutcome, run);
      // A later transfer does not change how the first offer ended.
      frontend->transferEnded({2, own, true, TransferCause::Complete});
      EXPECT_EQ(frontend->status().firstOutcome, run);
    }
  }

  // An accepted offer ends as its transfer does (this side sends its own offers), and the
  // transfer's cause tells a script what happened.
  const std::pair<TransferEnd, RunOutcome> transferEnds[] = {
      {{1, true, true, TransferCause::Complete}, RunOutcome::Complete},
      {{1, true, false, TransferCause::Incomplete}, RunOutcome::Incomplete},
      {{1, true, false, TransferCause::StoppedHere}, RunOutcome::Incomplete},
      {{1, true, false, TransferCause::StoppedByPeer}, RunOutcome::StoppedByPeer},
      {{1, true, false, TransferCause::ConnectionLost}, RunOutcome::NetworkFailure},
      {{1, true, false, TransferCause::LocalDisk}, RunOutcome::LocalDisk},
      {{1, true, false, TransferCause::PeerFailed}, RunOutcome::Incomplete},
  };
  for (const bool own : {false, true}) {
    for (auto [end, run] : transferEnds) {
      end.isSender = own;
      auto frontend = make(AnswerPolicy::Offers::Accept);
      frontend->judgeOwnOffers(own);
      frontend->offerEnded({1, own, OfferOutcome::Accepted});
      EXPECT_FALSE(frontend->status().firstOutcome);
      frontend->transferEnded(end);
      EXPECT_EQ(frontend->status().firstOutcome, run);
    }
  }
  // Each outcome has an exit status of its own.
  std::set<int> statuses;
  for (const RunOutcome outcome :
       {RunOutcome::Complete, RunOutcome::Incomplete, RunOutcome::Refused,
        RunOutcome::StoppedByPeer, RunOutcome::NetworkFailure, RunOutcome::LocalDisk}) {
    statuses.insert(exitStatusFor(outcome));
  }
  EXPECT_EQ(statuses, (std::set<int>{0, 1, 3, 4, 5, 6}));
}

TEST_F(TerminalFrontendTest, TransferShowsALineEverySecondAndItsVerdict) {
  auto frontend = make(AnswerPolicy::Offers::Accept);
  const TransferWindowId window =
      frontend->openTransferWindow(TransferWindowSetup{3, false, -1, false, {}, {}, {}, {}});
  EXPECT_EQ(frontend->status().openTransfers, 1);
  frontend->setTransferFileName(window, "/in/照片/一.jpg");
  frontend->showTransferFigures(window, {45, 20, std::nullopt});
  const std::string beforeTexts = output();
  frontend->showTransferFigures(
      window, {std::nullopt, 30, TransferTexts{"5.0 MB", "2.2 MB", "1.1 MB/s", "3 s  "}});
  frontend->showTransferVerdict(window, {true, "传送完毕！", true, false});
  frontend->transferEnded({3, false, true, TransferCause::Complete});
  // A second transfer's end does not change how the first one ended.
  const TransferWindowId later =
      frontend->openTransferWindow(TransferWindowSetup{4, true, 1, false, {}, {}, {}, {}});
  frontend->showTransferVerdict(later, {false, "传送中止！", false, false});
  frontend->transferEnded({4, true, false});

  EXPECT_EQ(beforeTexts.find("45%"), std::string::npos);  // bars alone print nothing
  EXPECT_EQ(output(),
            "接收文件 Index: 3  开始\n"
            "接收文件 Index: 3  文件名：/in/照片/一.jpg\n"
            "接收文件 Index: 3  一.jpg  45%  总计 30%  已经传送：2.2 MB / 5.0 MB  "
            "传送速度：1.1 MB/s  已用时间：3 s\n"
            "接收文件 Index: 3  传送完毕！\n"
            "发送文件 Index: 4  开始\n"
            "发送文件 Index: 4  传送中止！\n");
  EXPECT_EQ(frontend->status().openTransfers, 0);
  EXPECT_EQ(frontend->status().firstOutcome, RunOutcome::Complete);
}

TEST_F(TerminalFrontendTest, OnATerminalProgressIsOneLiveLine) {
  std::ostringstream out;
  Console terminal(out, true);
  TerminalFrontend frontend(terminal, AnswerPolicy{});
  const TransferWindowId window =
      frontend.openTransferWindow(TransferWindowSetup{1, true, 1, false, {}, {}, {}, {}});
  frontend.showTransferFigures(window, {150, std::nullopt, std::nullopt});
  frontend.showTransferVerdict(window, {true, "传送完毕！", false, false});
  // A position past 100 is a full bar; the verdict replaces the live line.
  EXPECT_EQ(
      out.str(),
      "发送文件 Index: 1  开始\n发送文件 Index: 1  100%\r\x1B[K发送文件 Index: 1  传送完毕！\n");
}

}  // namespace
}  // namespace brisk
