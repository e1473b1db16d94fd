// What the window shows of floods and huge texts stays bounded: notices repeated or in
// their hundreds open a handful of boxes, a stranger's huge offer fills a prompt with what
// it can show, offers in their dozens open a handful of prompts at a time, and a long
// received message fills the chat log with its start only.

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSet>
#include <QTest>
#include <QTextEdit>

#include "ui/chat_log.h"
#include "ui/notice_throttle.h"
#include "ui/prompt_window.h"
#include "ui/shown_text.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

using namespace std::chrono_literals;
using Where = NoticeThrottle::Decision::Where;
const NoticeThrottle::Clock::time_point t0{};

// An offer of `items` item lines of 240 characters, with its totals.
std::string hugeOffer(int items) {
  std::string body;
  for (int i = 0; i < items; ++i) {
    const std::string number = std::to_string(100000 + i);
    body += number + std::string(224, 'x') + "\t100 bytes\r\n";
  }
  return body + "\r\n总计 文件个数：" + std::to_string(items) +
         "\r\n\u3000\u3000 文件大小：100000 Bytes = 97.6 KB\r\n";
}

int linesOf(const QString& text) {
  return static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
}

}  // namespace

class LimitsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void cleanup() {
    for (QWidget* widget : QApplication::topLevelWidgets()) delete widget;
  }

  void aRepeatCountsInItsBoxWhileItComesSoonAfterTheLast() {
    NoticeThrottle throttle;
    const QString text = QStringLiteral("Index out of range: 0");
    const auto first = throttle.take(text, t0);
    QCOMPARE(first.where, Where::NewBox);
    // Each repeat within the span of the one before counts, however long the run.
    for (int i = 2; i <= 600; ++i) {
      const auto again = throttle.take(text, t0 + (i - 1) * 9s);
      QCOMPARE(again.where, Where::CountInBox);
      QCOMPARE(again.box, first.box);
      QCOMPARE(again.count, i);
    }
    // Later than that, it comes as new: a box of its own, counting from 1.
    const auto last = t0 + 599 * 9s;
    const auto later = throttle.take(text, last + NoticeThrottle::kRepeatSpan);
    QCOMPARE(later.where, Where::NewBox);
    QVERIFY(later.box != first.box);
    QCOMPARE(throttle.take(text, last + 11s).box, later.box);
    // Once its box is closed, the text opens a new one.
    throttle.boxClosed(later.box);
    QCOMPARE(throttle.take(text, last + 12s).where, Where::NewBox);
  }

  void beyondAHandfulOfBoxesNoticesGoToTheLogAtABoundedRate() {
    NoticeThrottle throttle;
    const auto notice = [](int i) { return QStringLiteral("Index out of range: %1").arg(i); };
    QList<int> boxes;
    for (int i = 0; i < NoticeThrottle::kMaxOpenBoxes; ++i) {
      const auto decision = throttle.take(notice(i), t0);
      QCOMPARE(decision.where, Where::NewBox);
      boxes.append(decision.box);
    }
    // The open boxes still count their own texts.
    QCOMPARE(throttle.take(notice(0), t0 + 1s).where, Where::CountInBox);
    int logged = 0;
    int leftOut = 0;
    bool explained = false;
    for (int i = 100; i < 700; ++i) {
      const auto decision = throttle.take(notice(i), t0 + 1s);
      QVERIFY(decision.where == Where::Log || decision.where == Where::LeftOut);
      if (decision.where == Where::Log) {
        ++logged;
        QCOMPARE(decision.firstLogged, logged == 1);
        explained = explained || decision.firstLogged;
      } else {
        ++leftOut;
      }
    }
    QVERIFY(explained);
    QCOMPARE(logged, NoticeThrottle::kMaxLoggedPerSpan);
    QCOMPARE(throttle.openBoxes(), NoticeThrottle::kMaxOpenBoxes);
    // The number left out is told once their span is over, and only once.
    QCOMPARE(throttle.leftOutDue(), t0 + 1s + NoticeThrottle::kRepeatSpan);
    QCOMPARE(throttle.takeLeftOut(t0 + 10s), std::size_t(0));
    QCOMPARE(throttle.takeLeftOut(t0 + 11s), std::size_t(leftOut));
    QCOMPARE(throttle.takeLeftOut(t0 + 12s), std::size_t(0));
    QVERIFY(!throttle.leftOutDue());

    // Left out again; a notice of the next span tells them first, if nobody did.
    for (int i = 0; i < 3 + NoticeThrottle::kMaxLoggedPerSpan; ++i) {
      throttle.take(notice(1000 + i), t0 + 20s);
    }
    const auto next = throttle.take(notice(2000), t0 + 31s);
    QCOMPARE(next.where, Where::Log);
    QCOMPARE(next.leftOutBefore, std::size_t(3));
    QVERIFY(!next.firstLogged);

    // A closed box makes room again, and the next overflow explains itself again.
    throttle.boxClosed(boxes.first());
    QCOMPARE(throttle.take(notice(3000), t0 + 32s).where, Where::NewBox);
    const auto overflow = throttle.take(notice(3001), t0 + 32s);
    QCOMPARE(overflow.where, Where::Log);
    QVERIFY(overflow.firstLogged);
  }

  void aFloodOfNoticesOpensAHandfulOfBoxes() {
    QtFrontend frontend;
    QStringList log;
    QObject::connect(&frontend, &QtFrontend::logAppended,
                     [&](const QString& text, const QColor& colour) {
                       QCOMPARE(colour, QColor(255, 0, 0));
                       log.append(text);
                     });
    std::thread([&] {
      for (int i = 0; i < 600; ++i) frontend.showNotice("Can not find 文件个数");
      for (int i = 0; i < 600; ++i) {
        frontend.showNotice("Index out of range: " + std::to_string(100 + i));
      }
    }).join();
    QTRY_COMPARE(log.size(), 1 + NoticeThrottle::kMaxLoggedPerSpan);
    const QList<QMessageBox*> boxes = openWindows<QMessageBox>();
    QCOMPARE(boxes.size(), NoticeThrottle::kMaxOpenBoxes);
    QStringList texts;
    for (QMessageBox* box : boxes) {
      // Title and button as every notice has them.
      QCOMPARE(box->windowTitle(), QStringLiteral("提示信息"));
      QCOMPARE(box->buttons().constFirst()->text(), QStringLiteral("确定"));
      texts.append(box->text());
    }
    QVERIFY(texts.contains(QStringLiteral("Can not find 文件个数\n\n（此提示共出现 600 次）")));
    QVERIFY(texts.contains(QStringLiteral("Index out of range: 100")));
    QCOMPARE(log.constFirst(),
             QStringLiteral("已打开的提示信息窗口太多，以下提示信息记在这里：\n"));
    QCOMPARE(log.at(1), QStringLiteral("提示信息：Index out of range: 104\n"));
  }

  void aHugeOfferShowsItsFirstItemsHowManyMoreAndItsTotals() {
    const std::string offer = hugeOffer(1000);
    const QString shown = QString::fromStdString(shownPromptText(offer));
    const QStringList lines = shown.split(QStringLiteral("\r\n"));
    // 200 items, the line for the rest, the empty line and two lines of totals, the end.
    QCOMPARE(lines.size(), int(kPromptItemLines) + 5);
    QCOMPARE(lines.at(0), QString::fromStdString(offer.substr(0, 240)));
    QCOMPARE(lines.at(kPromptItemLines), QStringLiteral("……另有 800 项"));
    QCOMPARE(lines.at(kPromptItemLines + 2), QStringLiteral("总计 文件个数：1000"));

    struct Row {
      const char* what;
      std::string text;
      std::string shown;
    };
    const std::string longName(100000, 'n');
    const Row rows[] = {
        {"a small offer as it is", "a.txt\t1 KB\r\n\r\n总计 文件个数：1\r\n", ""},
        {"one file without totals", "a.txt\t1 KB\r\n", ""},
        {"a single name of 100,000 characters", longName + "\t1 KB\r\n",
         std::string(kPromptLineChars, 'n') + "…\r\n"},
        {"items the sender left out are counted too",
         [] {
           std::string items;
           for (int i = 0; i < 300; ++i) items += "f\t1 KB\r\n";
           return items + "……另有 50 项\r\n\r\n总计 文件个数：350\r\n";
         }(),
         [] {
           std::string items;
           for (std::size_t i = 0; i < kPromptItemLines; ++i) items += "f\t1 KB\r\n";
           return items + "……另有 150 项\r\n\r\n总计 文件个数：350\r\n";
         }()},
        {"what follows the totals is bounded as well",
         "f\t1 KB\r\n\r\n总计 x\r\n1\r\n2\r\n3\r\n4\r\n5\r\n",
         "f\t1 KB\r\n\r\n总计 x\r\n1\r\n2\r\n"},
    };
    for (const Row& row : rows) {
      QVERIFY2(shownPromptText(row.text) == (row.shown.empty() ? row.text : row.shown), row.what);
    }
  }

  void aPromptForAHugeOfferHoldsWhatItCanShow() {
    QtFrontend frontend;
    const std::string offer = hugeOffer(1000);
    PromptHandle handle(offer);
    auto answer = std::async(std::launch::async, [&] {
      return frontend.showPrompt(handle, PromptRequest{"对方要发送文件给你，你要接收吗？",
                                                       offer,
                                                       {"接收", "拒绝"},
                                                       PromptKind::PeerItemsOffer});
    });
    // However the test ends, the prompt closes first, so that its thread returns.
    const std::shared_ptr<void> closing(nullptr, [&](void*) { handle.close(); });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 1);
    const auto* box =
        control<QPlainTextEdit>(openWindows<PromptWindow>().constFirst(), kIdPromptText);
    // The items, the line for the rest, the empty line, two lines of totals, the end.
    QCOMPARE(box->document()->blockCount(), int(kPromptItemLines) + 5);
    QVERIFY(box->toPlainText().contains(QStringLiteral("……另有 800 项\n\n总计 文件个数：1000")));
    handle.close();
    QTRY_VERIFY(answer.wait_for(0s) == std::future_status::ready);
  }

  void aHandfulOfOfferPromptsAreOpenAtOnceAndTheRestWaitTheirTurn() {
    QtFrontend frontend;
    QStringList log;
    QObject::connect(&frontend, &QtFrontend::logAppended,
                     [&](const QString& text, const QColor&) { log.append(text); });
    constexpr int kOffers = 20;
    std::vector<std::unique_ptr<PromptHandle>> handles;
    std::vector<std::future<PromptAnswer>> answers;
    for (int i = 0; i < kOffers; ++i) {
      handles.push_back(std::make_unique<PromptHandle>("offer " + std::to_string(i)));
    }
    const auto ask = [&](int i, PromptKind kind) {
      return std::async(std::launch::async, [&frontend, &handles, i, kind] {
        return frontend.showPrompt(
            *handles[i], PromptRequest{"line", handles[i]->text(), {"接收", "拒绝"}, kind});
      });
    };
    for (int i = 0; i < kOffers; ++i) answers.push_back(ask(i, PromptKind::PeerItemsOffer));
    const std::shared_ptr<void> closing(nullptr, [&](void*) {
      for (auto& handle : handles) handle->close();
    });
    const auto shownTexts = [] {
      QStringList texts;
      for (PromptWindow* prompt : openWindows<PromptWindow>()) {
        texts.append(control<QPlainTextEdit>(prompt, kIdPromptText)->toPlainText());
      }
      texts.sort();
      return texts;
    };
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 8);
    QTRY_COMPARE(log.size(), 1);
    QCOMPARE(log.constFirst(),
             QStringLiteral("（对方的文件发送请求太多，其余的请求在前面的请求回答后依次显示）\n"));
    // This side's own offers wait for the peer, never for room.
    PromptHandle own("own offer");
    auto ownAnswer = std::async(std::launch::async, [&] {
      return frontend.showPrompt(
          own, PromptRequest{"line", "own offer", {"取消"}, PromptKind::OwnOfferWaiting});
    });
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 9);
    own.close();
    QTRY_VERIFY(ownAnswer.wait_for(0s) == std::future_status::ready);
    QTRY_COMPARE(openWindows<PromptWindow>().size(), 8);
    // One cancelled while it waits its turn never shows.
    int held = 0;
    while (shownTexts().contains(QString::fromStdString(handles[held]->text()))) ++held;
    handles[held]->close();
    QTRY_VERIFY(answers[held].wait_for(0s) == std::future_status::ready);
    QCOMPARE(answers[held].get(), PromptAnswer::None);
    // Each answer makes room for the next; every other offer is shown in the end.
    QSet<QString> everShown;
    for (int answered = 0; answered < kOffers - 1; ++answered) {
      QTRY_COMPARE(openWindows<PromptWindow>().size(), std::min(8, kOffers - 1 - answered));
      const QStringList texts = shownTexts();
      everShown.unite(QSet<QString>(texts.begin(), texts.end()));
      const int next = texts.constFirst().mid(6).toInt();
      handles[next]->close();
      QTRY_VERIFY(answers[next].wait_for(0s) == std::future_status::ready);
      QTRY_VERIFY(!shownTexts().contains(texts.constFirst()));
    }
    QCOMPARE(everShown.size(), kOffers - 1);
    QVERIFY(!everShown.contains(QString::fromStdString(handles[held]->text())));
  }

  void noticesAndTheChatLogShowTheStartOfAHugeText() {
    const std::string offer = "TRANSFILE:ASK:Index:1\r\n" + hugeOffer(1000);
    const ShownLogText log = shownLogText(offer);
    QVERIFY(log.text.starts_with(offer.substr(0, 23 + 242)));
    QVERIFY(log.text.size() < kLogChars + 100);
    QVERIFY(linesOf(QString::fromStdString(log.text)) <= int(kLogLines) + 1);
    QVERIFY(log.note.has_value());
    QVERIFY(log.note->starts_with("……（另有 ") && log.note->ends_with(" 个字符未显示）\r\n"));
    const ShownLogText chat = shownLogText("你好\r\n");
    QCOMPARE(chat.text, std::string("你好\r\n"));
    QVERIFY(!chat.note);

    const std::string notice = shownNoticeText("对方已取消文件发送。\r\n\r\n" + hugeOffer(1000));
    QVERIFY(linesOf(QString::fromStdString(notice)) <= int(kNoticeLines) + 2);
    QVERIFY(notice.ends_with(" 个字符未显示）\r\n"));
    QCOMPARE(shownNoticeText("bind failed."), std::string("bind failed."));

    // In the window: the log holds the start, and the note in a colour of its own.
    Program program;
    program.frontend.appendLog(offer, kBlack);
    auto* chatLog = control<QTextEdit>(&program.window, kIdChatLog);
    QTRY_VERIFY(chatLog->toPlainText().contains(QStringLiteral("个字符未显示）")));
    QVERIFY(chatLog->toPlainText().size() < int(kLogChars) + 200);

    // However long the chat goes on, the log keeps the latest lines only.
    auto* window = static_cast<ChatLog*>(chatLog);
    for (int line = 0; line < ChatLog::kMaxLines + 500; ++line) {
      window->appendLog(QStringLiteral("line %1\r\n").arg(line), Qt::black);
    }
    QVERIFY(chatLog->document()->blockCount() <= ChatLog::kMaxLines);
    QVERIFY(
        chatLog->toPlainText().contains(QStringLiteral("line %1").arg(ChatLog::kMaxLines + 499)));
    QVERIFY(!chatLog->toPlainText().contains(QStringLiteral("line 0\n")));
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::LimitsTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "limits_test.moc"
