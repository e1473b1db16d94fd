#include "transfer/progress.h"

#include <gtest/gtest.h>

#include "support/scripted_frontend.h"
#include "support/test_support.h"

namespace brisk {
namespace {

TEST(BarPosition, FollowsTheIntegerRulesAndNeverPassesAFullBar) {
  EXPECT_EQ(barPosition(25, 50), 50);
  EXPECT_EQ(barPosition(100, 150), 100);  // 150 / 100 is 1: full at 100 bytes
  EXPECT_EQ(barPosition(149, 150), 100);
  EXPECT_EQ(barPosition(1, 3), 33);
  EXPECT_EQ(barPosition(0, 0), std::nullopt);  // a file of 0 bytes never moves its bar
  EXPECT_EQ(barPosition(5'000'000'000, 10'000'000'000), 50);
  // A resume offset past the file's size must not wrap into a small position.
  EXPECT_EQ(barPosition(UINT64_MAX, 200), 100);
}

TEST(ElapsedText, PartsStandAtFixedPlaces) {
  EXPECT_EQ(elapsedText(1), "1 s  ");
  EXPECT_EQ(elapsedText(7), "7 s  ");
  EXPECT_EQ(elapsedText(59), "59 s  ");
  EXPECT_EQ(elapsedText(60), "0 s  1 m  ");
  EXPECT_EQ(elapsedText(130), "10 s 2 m  ");
  EXPECT_EQ(elapsedText(3725), "5 s  2 m  1 h");
  EXPECT_EQ(elapsedText(5105), "5 s  25 m 1 h");
  EXPECT_EQ(elapsedText(36000 + 59 * 60 + 59), "59 s 59 m 10 h");
}

TEST(ProgressMeter, BarsEveryTickTextsEveryTenth) {
  ProgressMeter meter(true);
  ProgressSample sample{1000, 0, 3000, 0};
  for (int tick = 1; tick < 10; ++tick) {
    sample.fileDone = static_cast<std::uint64_t>(tick) * 50;
    const TransferFigures figures = meter.tick(sample);
    EXPECT_EQ(figures.fileBar, tick * 5);
    EXPECT_EQ(figures.totalBar, tick * 50 / 30);
    EXPECT_FALSE(figures.texts);
  }
  sample.fileDone = 500;
  const TransferFigures tenth = meter.tick(sample);
  ASSERT_TRUE(tenth.texts);
  EXPECT_EQ(tenth.texts->fileSize, "1000 bytes");
  EXPECT_EQ(tenth.texts->fileDone, "500 bytes");
  EXPECT_EQ(tenth.texts->speed, "500 bytes/s");
  EXPECT_EQ(tenth.texts->elapsed, "1 s  ");
}

TEST(ProgressMeter, TheLastTickRefreshesTheTextsAtOnce) {
  ProgressMeter meter(false);
  for (int tick = 0; tick < 13; ++tick) meter.tick({1000, 300, 1000, 0});
  const TransferFigures last = meter.tick({1000, 1000, 1000, 0}, true);
  ASSERT_TRUE(last.texts);
  EXPECT_EQ(last.texts->fileDone, "1000 bytes");
  EXPECT_EQ(last.texts->speed, "700 bytes/s");  // what moved since the previous refresh
  EXPECT_EQ(last.texts->elapsed, "2 s  ");      // the part of a second counts as one
}

TEST(ProgressMeter, TheSecondANewFileBeginsShowsWhatReallyMoved) {
  ProgressMeter meter(true);
  const auto second = [&](ProgressSample sample) {
    for (int i = 0; i < 9; ++i) meter.tick(sample);
    return meter.tick(sample).texts->speed;
  };
  EXPECT_EQ(second({4096, 3072, 8192, 0}), "3 KB/s");
  // The first file finished (4096 to the total) and the next one has 1024 bytes done.
  EXPECT_EQ(second({4096, 1024, 8192, 4096}), "2 KB/s");
  // A skipped file: its counter restarts without adding to the total.
  EXPECT_EQ(second({4096, 0, 8192, 4096}), "0 bytes/s");
}

TEST(Verdict, CompleteOnlyWhenTheProtocolEndedAndTheBytesReachTheTotal) {
  struct Case {
    ProgressSample sample;
    bool protocolFinished;
    int fileCount;
    bool complete;
    bool hideFileBar;
  };
  const Case cases[] = {
      {{100, 100, 100, 0}, true, 1, true, false},
      {{100, 40, 300, 100}, true, 2, false, false},  // a file skipped: bytes short
      {{200, 0, 300, 300}, true, 3, true, true},
      // Counters that look complete do not make a transfer complete: a single file whose
      // data connection never came up, or a folder of empty files cut off before its end.
      {{0, 0, 0, 0}, false, 1, false, false},
      {{0, 0, 0, 0}, false, -1, false, true},
      {{100, 100, 100, 0}, false, 1, false, false},
  };
  for (const Case& c : cases) {
    const TransferVerdict verdict = verdictFor(c.sample, c.protocolFinished, c.fileCount, true);
    EXPECT_EQ(verdict.complete, c.complete) << c.sample.totalSize << " " << c.protocolFinished;
    EXPECT_EQ(verdict.status, c.complete ? "传送完毕！" : "传送中止！");
    EXPECT_EQ(verdict.closeWindow, c.complete);  // a stopped transfer never closes by itself
    EXPECT_EQ(verdict.hideFileBar, c.hideFileBar);
  }
}

TEST(ProgressThread, ShowsFiguresUntilTheTransferEndsThenReleasesAndJudges) {
  test::ScriptedFrontend frontend;
  const Timing timing = test::fastTiming();
  auto record = std::make_shared<TransferRecord>();
  record->fileCount = 1;
  record->totalSize = 100;
  record->fileSize = 100;
  record->window = frontend.openTransferWindow({});
  bool released = false;
  std::thread progress([&] {
    progressThread({frontend, timing, [] { return true; }, [&] { released = true; }}, record);
  });
  ASSERT_TRUE(frontend.waitFor([&] { return frontend.transferWindow(1).figures.size() >= 3; }));
  record->fileDone = 100;
  record->protocolFinished = true;
  record->transferEnded = true;
  progress.join();
  EXPECT_TRUE(released);
  const auto window = frontend.transferWindow(record->window);
  EXPECT_EQ(window.statuses.front(), "正在传送文件");
  ASSERT_TRUE(window.verdict);
  EXPECT_TRUE(window.verdict->complete);
  EXPECT_TRUE(window.verdict->closeWindow);
  ASSERT_TRUE(window.figures.back().texts);  // the last refresh shows the final figures
  EXPECT_EQ(window.figures.back().texts->fileDone, "100 bytes");
  EXPECT_EQ(window.figures.back().fileBar, 100);
}

TEST(ProgressThread, TheTransfersEndCutsTheTickShort) {
  test::ScriptedFrontend frontend;
  Timing timing = test::fastTiming();
  timing.progressTick = std::chrono::minutes(1);  // the verdict must not wait for it
  auto record = std::make_shared<TransferRecord>();
  record->fileCount = 1;
  record->window = frontend.openTransferWindow({});
  std::thread progress([&] {
    progressThread({frontend, timing, [] { return false; }, [] {}}, record);
  });
  record->markTransferEnded();
  EXPECT_TRUE(frontend.waitFor(
      [&] { return frontend.transferWindow(record->window).verdict.has_value(); }));
  progress.join();
}

TEST(ProgressThread, AnEndedTransferIsJudgedAtTheFirstTick) {
  test::ScriptedFrontend frontend;
  const Timing timing = test::fastTiming();
  auto record = std::make_shared<TransferRecord>();
  record->fileCount = 1;
  record->totalSize = record->fileSize = record->fileDone = 1;
  record->window = frontend.openTransferWindow({});
  record->transferEnded = true;
  progressThread({frontend, timing, [] { return false; }, [] {}}, record);
  const auto window = frontend.transferWindow(record->window);
  ASSERT_EQ(window.figures.size(), 1U);  // not ten ticks to the next refresh
  ASSERT_TRUE(window.figures.front().texts);
  EXPECT_EQ(window.figures.front().texts->elapsed, "1 s  ");
  ASSERT_TRUE(window.verdict);
}

}  // namespace
}  // namespace brisk
