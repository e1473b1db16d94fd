// The window of trusted computers (renaming, forgetting, a store another process changes or
// that cannot be read) and the main menu's switch for encrypted connections only.

#include <fstream>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "ui/trusted_computers.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

Fingerprint fingerprintOf(std::uint8_t byte) {
  Fingerprint fingerprint;
  fingerprint.bytes.fill(byte);
  return fingerprint;
}

// A store in a folder of its own with 甲 and 乙 in it.
struct TwoPeers {
  QTemporaryDir folder;
  std::shared_ptr<TrustStore> store = std::make_shared<TrustStore>(
      TrustStore::fileIn(QFile::encodeName(folder.path()).toStdString()));

  TwoPeers() {
    const std::chrono::sys_seconds when(std::chrono::seconds(1'700'000'000));
    (void)store->remember(fingerprintOf(0xA1), "甲", "192.168.1.20", when);
    (void)store->remember(fingerprintOf(0xB2), "乙", "192.168.1.30", when);
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const TrustedPeer& peer : store->list().peers) out.push_back(peer.name);
    return out;
  }
};

QPushButton* button(QWidget* window, const char* name) {
  return window->findChild<QPushButton*>(QLatin1String(name));
}

}  // namespace

class TrustedComputersTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { writeSettings(); }

  void namesTheStoreWouldNotKeepAreRefused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("kept");
    QTest::newRow("plain") << QStringLiteral("甲的电脑") << true;
    QTest::newRow("spaces around") << QStringLiteral("  乙  ") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("only spaces") << QStringLiteral("   ") << false;
    QTest::newRow("255 bytes") << QString(85, u'汉') << true;
    QTest::newRow("258 bytes") << QString(86, u'汉') << false;
    QTest::newRow("tab") << QStringLiteral("a\tb") << false;
    QTest::newRow("direction override") << QStringLiteral("a\u202Eb") << false;
  }

  void namesTheStoreWouldNotKeepAreRefused() {
    QFETCH(QString, name);
    QFETCH(bool, kept);
    QCOMPARE(trustedNameProblem(name).isEmpty(), kept);
    // The dialog refuses the same names and keeps the text as typed.
    RenameDialog dialog(QStringLiteral("旧"), nullptr);
    auto* box = dialog.findChild<QLineEdit*>(QStringLiteral("nameBox"));
    box->setText(name);
    dialog.accept();
    QCOMPARE(dialog.result() == QDialog::Accepted, kept);
    QCOMPARE(box->text(), name);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("problem"))->isHidden(), kept);
    if (kept) QCOMPARE(dialog.name(), name.trimmed());
  }

  void renamesAndForgetsAndSeesOtherProcessesChanges() {
    TwoPeers two;
    TrustedComputersDialog dialog(two.store, nullptr);
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("peerList"));
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("192.168.1.30"));
    dialog.select(1);
    const QString shown = dialog.findChild<QLabel*>(QStringLiteral("fingerprint"))->text();
    QVERIFY2(shown.endsWith(QStringLiteral("B2B2 B2B2 B2B2 B2B2 B2B2 B2B2 B2B2 B2B2\n"
                                           "B2B2 B2B2 B2B2 B2B2 B2B2 B2B2 B2B2 B2B2")),
             qPrintable(shown));

    QVERIFY(!dialog.renameSelected(QStringLiteral("\t")).isEmpty());
    QCOMPARE(dialog.renameSelected(QStringLiteral(" 乙的笔记本 ")), QString());
    QCOMPARE(two.names(), (std::vector<std::string>{"甲", "乙的笔记本"}));
    QCOMPARE(list->currentItem()->text(0), QStringLiteral("乙的笔记本"));

    {
      // The question names the peer and its fingerprint; 是 forgets it.
      BoxAnswerer answerer;
      button(&dialog, "forgetButton")->click();
      QCOMPARE(answerer.texts().size(), 1);
      QVERIFY(answerer.texts().front().contains(QStringLiteral("乙的笔记本")));
      QVERIFY(answerer.texts().front().contains(QStringLiteral("B2B2 B2B2")));
    }
    QCOMPARE(two.names(), (std::vector<std::string>{"甲"}));
    QCOMPARE(list->topLevelItemCount(), 1);

    // brisk-peer, with a store of its own on the same file.
    TrustStore other(two.store->file());
    (void)other.remember(fingerprintOf(0xC3), "丙", "10.0.0.3", {});
    button(&dialog, "refreshButton")->click();
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("未知"));
    dialog.select(0);
    (void)other.forget(fingerprintOf(0xA1));
    const QString gone = dialog.renameSelected(QStringLiteral("新"));
    QVERIFY2(gone.contains(QStringLiteral("已不在")), qPrintable(gone));
    QCOMPARE(two.names(), (std::vector<std::string>{"丙"}));
  }

  void anUnreadableStoreOffersNothingToChange() {
    TwoPeers two;
    { std::ofstream(two.store->file(), std::ios::app) << "not a line of the store\n"; }
    TrustedComputersDialog dialog(two.store, nullptr);
    dialog.show();
    QVERIFY(dialog.peers().empty());
    QVERIFY(!dialog.findChild<QTreeWidget*>(QStringLiteral("peerList"))->isEnabled());
    QVERIFY(!button(&dialog, "renameButton")->isEnabled());
    QVERIFY(!button(&dialog, "forgetButton")->isEnabled());
    QVERIFY(button(&dialog, "refreshButton")->isEnabled());
    auto* message = dialog.findChild<QLabel*>(QStringLiteral("message"));
    QVERIFY(message->isVisible());
    QVERIFY2(message->text().contains(QStringLiteral("无法读取")), qPrintable(message->text()));
    QVERIFY(!dialog.forgetSelected().isEmpty());
    QVERIFY(!TrustStore(two.store->file()).list().ok());  // left as it was
  }

  // The switch starts from the setting, and each change is kept and in force at once.
  void encryptedOnlyFollowsTheSettingAndTheMenu() {
    for (const int stored : {0, 1}) {
      writeSettings({{QStringLiteral("encryptedonly"), stored}});
      Program program;
      QCOMPARE(program.peer.encryptedOnly(), stored == 1);
      program.window.command(kCmdEncryptedOnly);
      QCOMPARE(program.peer.encryptedOnly(), stored == 0);
      QCOMPARE(storedSetting(QStringLiteral("encryptedonly")).toInt(), stored == 0 ? 1 : 0);
    }
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::TrustedComputersTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "trusted_computers_test.moc"
