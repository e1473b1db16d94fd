// What the window shows of floods and huge texts stays bounded: a stranger's huge offer
// fills a prompt with what it can show, offers in their dozens open a handful of prompts
// at a time, and a long received message fills the chat log with its start only.

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <QPlainTextEdit>
#include <QSet>
#include <QTest>
#include <QTextEdit>

#include "ui/prompt_window.h"
#include "ui/shown_text.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

using namespace std::chrono_literals;

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
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::LimitsTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "limits_test.moc"
