// The address box's list of computers found on the network, the announcement while
// listening, and the three discovery choices of the main context menu.

#include <QAbstractItemView>
#include <QComboBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

#include "discovery/display_name.h"
#include "discovery/fake_discovery.h"
#include "platform/socket.h"
#include "secure/identity.h"
#include "support/scripted_frontend.h"
#include "ui/address_list.h"
#include "ui/readable_colour.h"
#include "ui_test_support.h"

namespace brisk::test {

namespace {

ServiceFound found(std::string name, std::string address, int port,
                   IpProtocol protocol = IpProtocol::V4, PeerHints hints = {}) {
  return ServiceFound{std::move(name), std::move(address), port, 2, protocol, false, hints};
}

QStringList items(const QComboBox& box) {
  QStringList texts;
  for (int i = 0; i < box.count(); ++i) texts.append(box.itemText(i));
  return texts;
}

// An address box and a port box as the main window has them, with a fake backend.
struct Boxes {
  QWidget window;
  QComboBox* address = new QComboBox(&window);
  QLineEdit* port = new QLineEdit(&window);
  Timing timing = fastTiming();
  Notices notices;
  SettingsStore store;
  FakeDiscovery* fake = nullptr;
  std::unique_ptr<AddressList> list;

  explicit Boxes(ScriptedFrontend& frontend, PeerList::VerifiedTestSource verified = {})
      : notices(frontend, timing), store(notices) {
    address->setEditable(true);
    address->setInsertPolicy(QComboBox::NoInsert);
    port->setText(QStringLiteral("6000"));
    auto backend = std::make_unique<FakeDiscovery>();
    fake = backend.get();
    list = std::make_unique<AddressList>(address, port, store, std::move(backend),
                                         std::move(verified));
  }

  // A real computer's announcement, then 32 made up to be listed before it.
  void flood(const PeerHints& real = {}) {
    fake->emit(AvailabilityChanged{true, {}});
    fake->emit(found("Mallory-Real", "192.168.1.66", 6000, IpProtocol::V4, real));
    for (int i = 1; i <= 32; ++i) {
      fake->emit(found("AAA-fake-" + std::to_string(i), "10.0.0." + std::to_string(i), 6000));
    }
  }

  bool canChoose(int index) const {
    return address->model()->flags(address->model()->index(index, 0)) & Qt::ItemIsEnabled;
  }
};

}  // namespace

class AddressListTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init() { clearSettings(); }

  void listsFoundComputersLiveWithoutTouchingWhatIsTyped() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    QVERIFY(boxes.fake->started());
    boxes.address->setEditText(QStringLiteral("10.0.0."));
    boxes.fake->emit(AvailabilityChanged{true, {}});
    boxes.fake->emit(found("Bob", "fe80::6", 6000, IpProtocol::V6));
    boxes.fake->emit(found("Bob", "192.168.1.6", 6000));
    boxes.fake->emit(found("Alice\xE2\x80\xAE", "192.168.1.5", 6001));
    const QStringList both = {QStringLiteral("Alice — 192.168.1.5:6001"),
                              QStringLiteral("Bob — 192.168.1.6")};
    QTRY_COMPARE(items(*boxes.address), both);
    QCOMPARE(boxes.address->currentText(), QStringLiteral("10.0.0."));
    QVERIFY(boxes.address->toolTip().isEmpty());

    // The port is shown where it differs from the port box, which may change.
    boxes.port->setText(QStringLiteral("6001"));
    QCOMPARE(items(*boxes.address), (QStringList{QStringLiteral("Alice — 192.168.1.5"),
                                                 QStringLiteral("Bob — 192.168.1.6:6000")}));

    boxes.fake->emit(ServiceLost{"Bob", 2, IpProtocol::V4});
    boxes.fake->emit(ServiceLost{"Bob", 2, IpProtocol::V6});
    QTRY_COMPARE(items(*boxes.address), QStringList{QStringLiteral("Alice — 192.168.1.5")});
    QCOMPARE(boxes.address->currentText(), QStringLiteral("10.0.0."));

    // Typing is not completed from the list.
    boxes.address->lineEdit()->clear();
    QTest::keyClicks(boxes.address->lineEdit(), QStringLiteral("Al"));
    QCOMPARE(boxes.address->currentText(), QStringLiteral("Al"));
  }

  void aRealComputerStaysFindableAmongFakeAnnouncements() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    boxes.address->setEditText(QStringLiteral("对方IP地址"));
    boxes.flood();
    // The most recently seen first, and a last entry that tells how many more there are.
    QTRY_COMPARE(boxes.address->count(), 33);
    QCOMPARE(boxes.address->itemText(0), QStringLiteral("AAA-fake-32 — 10.0.0.32"));
    QCOMPARE(boxes.address->itemText(31), QStringLiteral("AAA-fake-1 — 10.0.0.1"));
    QCOMPARE(boxes.address->itemText(32), QStringLiteral("还有 1 台计算机…（输入名称或地址查找）"));
    QVERIFY(boxes.canChoose(31));
    QVERIFY(!boxes.canChoose(32));
    // Text put in the box by the program filters nothing.
    QCOMPARE(boxes.address->currentText(), QStringLiteral("对方IP地址"));

    // Typing narrows the list to the computers whose name or address holds the text.
    QLineEdit* typed = boxes.address->lineEdit();
    typed->selectAll();
    QTest::keyClicks(typed, QStringLiteral("mall"));
    QCOMPARE(items(*boxes.address), QStringList{QStringLiteral("Mallory-Real — 192.168.1.66")});
    QCOMPARE(boxes.address->currentText(), QStringLiteral("mall"));
    QCOMPARE(typed->cursorPosition(), 4);
    typed->selectAll();
    QTest::keyClicks(typed, QStringLiteral("10.0.0.3"));
    QCOMPARE(items(*boxes.address), (QStringList{QStringLiteral("AAA-fake-32 — 10.0.0.32"),
                                                 QStringLiteral("AAA-fake-31 — 10.0.0.31"),
                                                 QStringLiteral("AAA-fake-30 — 10.0.0.30"),
                                                 QStringLiteral("AAA-fake-3 — 10.0.0.3")}));
    // Choosing one fills the boxes; emptying the box lists everything again.
    Q_EMIT boxes.address->activated(3);
    QCOMPARE(boxes.address->currentText(), QStringLiteral("10.0.0.3"));
    typed->selectAll();
    QTest::keyClick(typed, Qt::Key_Backspace);
    QCOMPARE(boxes.address->count(), 33);
  }

  void computersVerifiedBeforeAreListedFirstAndMarked() {
    ScriptedFrontend frontend;
    std::vector<std::string> trusted{"3F7A91C2"};
    Boxes boxes(frontend, verifiedByPrefix([&trusted] { return trusted; }));
    boxes.flood(PeerHints{6101, "3F7A91C2"});
    QTRY_COMPARE(boxes.address->count(), 33);
    // The text stays the name; the mark and what it means come beside it.
    QCOMPARE(boxes.address->itemText(0), QStringLiteral("Mallory-Real — 192.168.1.66"));
    QCOMPARE(boxes.address->itemData(0, AddressList::kVerifiedRole), QVariant(true));
    QVERIFY(!boxes.address->itemIcon(0).isNull());
    QVERIFY(boxes.address->itemData(0, Qt::ToolTipRole)
                .toString()
                .contains(QStringLiteral("仍会核对完整的密钥")));
    QVERIFY(!boxes.address->itemData(1, AddressList::kVerifiedRole).isValid());
    QVERIFY(!boxes.address->itemData(1, Qt::ToolTipRole).isValid());
    QCOMPARE(boxes.address->itemText(32), QStringLiteral("还有 1 台计算机…（输入名称或地址查找）"));

    // Forgotten in the store: neither first nor marked once the list looks again.
    trusted.clear();
    boxes.list->recheckVerified();
    QCOMPARE(boxes.address->itemText(0), QStringLiteral("AAA-fake-32 — 10.0.0.32"));
    for (int i = 0; i < boxes.address->count(); ++i) {
      QVERIFY(!boxes.address->itemData(i, AddressList::kVerifiedRole).isValid());
      QVERIFY(boxes.address->itemIcon(i).isNull());
    }
  }

  void theMarkStandsOutInLightAndDarkLists() {
    for (const bool dark : {false, true}) {
      ScriptedFrontend frontend;
      Boxes boxes(frontend, verifiedByPrefix([] { return std::vector<std::string>{"3F7A91C2"}; }));
      QPalette palette = boxes.address->view()->palette();
      palette.setColor(QPalette::Base, dark ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
      palette.setColor(QPalette::Text, dark ? QColor(Qt::white) : QColor(Qt::black));
      boxes.address->view()->setPalette(palette);
      boxes.flood(PeerHints{std::nullopt, "3F7A91C2"});
      QTRY_COMPARE(boxes.address->count(), 33);
      const QImage mark = boxes.address->itemIcon(0).pixmap(16, 16).toImage();
      double best = 1;
      for (int y = 0; y < mark.height(); ++y) {
        for (int x = 0; x < mark.width(); ++x) {
          const QColor pixel = mark.pixelColor(x, y);
          if (pixel.alpha() == 255)
            best = std::max(best, contrastRatio(pixel, palette.base().color()));
        }
      }
      QVERIFY2(best >= 4.5, qPrintable(QStringLiteral("contrast %1").arg(best)));
    }
  }

  void choosingAComputerFillsAddressAndPort() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    boxes.fake->emit(AvailabilityChanged{true, {}});
    boxes.fake->emit(found("Alice", "192.168.1.5", 6001));
    QTRY_COMPARE(boxes.address->count(), 1);
    boxes.address->setCurrentIndex(0);
    Q_EMIT boxes.address->activated(0);
    QCOMPARE(boxes.address->currentText(), QStringLiteral("192.168.1.5"));
    QCOMPARE(boxes.port->text(), QStringLiteral("6001"));
  }

  void unavailableDiscoveryShowsAHintAndEmptiesTheList() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    boxes.fake->emit(AvailabilityChanged{true, {}});
    boxes.fake->emit(found("Alice", "192.168.1.5", 6000));
    QTRY_COMPARE(boxes.address->count(), 1);
    boxes.fake->emit(AvailabilityChanged{false, "avahi-daemon is not running"});
    QTRY_COMPARE(boxes.address->count(), 0);
    QCOMPARE(boxes.address->toolTip(),
             QStringLiteral("无法查找局域网上的计算机：avahi-daemon is not running"));
    boxes.fake->emit(AvailabilityChanged{true, {}});
    QTRY_VERIFY(boxes.address->toolTip().isEmpty());
    QVERIFY(frontend.notices().empty());
  }

  void announcesOnlyWhileListeningAndFollowsTheChoices() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    using Announcement = FakeDiscovery::Announcement;
    const std::string name = defaultDisplayName();
    QVERIFY(!boxes.fake->announced());
    const PeerHints hints{7101, "3F7A91C2"};
    boxes.list->setListening(true, 6000);
    QCOMPARE(boxes.fake->announced(), (Announcement{name, 6000, {}}));
    boxes.list->setListening(false, 6000);
    QVERIFY(!boxes.fake->announced());
    boxes.list->setListening(true, 7000, hints);  // listening again on another port
    QCOMPARE(boxes.fake->announced(), (Announcement{name, 7000, hints}));
    boxes.list->setListening(true, 7000, hints);
    QCOMPARE(boxes.fake->announcements(), 2);

    boxes.list->setDisplayName(QStringLiteral(" 小明\n的电脑 "));
    QCOMPARE(boxes.fake->announced(), (Announcement{"小明的电脑", 7000, hints}));
    boxes.list->setAnnouncing(false);
    QVERIFY(!boxes.fake->announced());
    boxes.list->setAnnouncing(true);
    QCOMPARE(boxes.fake->announced(), (Announcement{"小明的电脑", 7000, hints}));
    boxes.list->setDisplayName(QString());  // back to the default name
    QCOMPARE(boxes.fake->announced(), (Announcement{name, 7000, hints}));
    boxes.list->shutdown();
  }

  void choicesAreKeptAndOldSettingsFilesLoadSilently() {
    ScriptedFrontend frontend;
    writeSettings();  // a settings file of the versions before discovery
    {
      Boxes boxes(frontend);
      QVERIFY(boxes.list->announcing());
      QVERIFY(boxes.list->showingFound());
      QCOMPARE(boxes.list->displayName(), QString::fromStdString(defaultDisplayName()));
      boxes.list->setAnnouncing(false);
      boxes.list->setShowingFound(false);
      boxes.list->setDisplayName(QStringLiteral("Alice"));
    }
    QCOMPARE(storedSetting(QStringLiteral("announce")).toInt(), 0);
    QCOMPARE(storedSetting(QStringLiteral("discover")).toInt(), 0);
    QCOMPARE(storedSetting(QStringLiteral("displayname")).toString(), QStringLiteral("Alice"));
    Boxes again(frontend);
    QVERIFY(!again.list->announcing());
    QVERIFY(!again.list->showingFound());
    QCOMPARE(again.list->displayName(), QStringLiteral("Alice"));
    // Not showing what is found: the backend is not even started.
    QVERIFY(!again.fake->started());
    again.list->setShowingFound(true);
    QVERIFY(again.fake->started());
    QVERIFY(frontend.notices().empty());
  }

  void hidingTheFoundComputersEmptiesTheList() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    boxes.fake->emit(AvailabilityChanged{true, {}});
    boxes.fake->emit(found("Alice", "192.168.1.5", 6000));
    QTRY_COMPARE(boxes.address->count(), 1);
    boxes.list->setShowingFound(false);
    QCOMPARE(boxes.address->count(), 0);
    boxes.list->setShowingFound(true);
    QCOMPARE(boxes.address->count(), 1);
  }

  void theWindowAnnouncesWhileItListensAndWithdrawsOnQuit() {
    QtFrontend frontend;
    Peer peer(frontend, fastTiming());
    ProgramEnd end(peer, frontend);
    auto backend = std::make_unique<FakeDiscovery>();
    FakeDiscovery* fake = backend.get();
    MainWindow window(peer, frontend, end, std::move(backend));
    const int port = freePortRange(1);
    control<QLineEdit>(&window, kIdPortBox)->setText(QString::number(port));
    {
      // A port that is taken: the listen fails, and the computer is never announced.
      BoxAnswerer boxes;
      const SocketResult taken = listenTcp(static_cast<std::uint16_t>(port), 1);
      QVERIFY(taken.ok());
      window.command(kIdListen);
      QTRY_VERIFY(boxes.texts().join(QString()).contains(QStringLiteral("bind failed.")));
      // Back to idle: the status line goes.
      QTRY_VERIFY(window.findChild<QWidget*>(kStatusLabelName)->isHidden());
      QCOMPARE(fake->announcements(), 0);
    }
    window.command(kIdListen);
    QTRY_VERIFY(fake->announced().has_value());
    QCOMPARE(fake->announced()->port, port);
    window.command(kIdDisconnect);
    QTRY_VERIFY(!fake->announced().has_value());
    // On quit the backend goes, and with it the announcement, before anything else stops.
    bool stopped = false;
    bool stoppedFirst = false;
    fake->onDestroyed = [&] {
      stopped = true;
      stoppedFirst = !frontend.shuttingDown() && !peer.stopping();
    };
    window.close();
    QVERIFY(stopped);
    QVERIFY(stoppedFirst);
    QVERIFY(frontend.shuttingDown() && peer.stopping());
  }

  void theWindowAnnouncesItsKeyAndMarksComputersItTrusts() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QtFrontend frontend;
    Peer peer(frontend, fastTiming());
    std::string error;
    const auto trust =
        std::make_shared<TrustStore>(TrustStore::fileIn(folder.path().toStdString()));
    std::shared_ptr<SecureSetup> setup = makeSecureSetup(Identity::generate(), trust, "me", error);
    QVERIFY2(setup, error.c_str());
    peer.setSecureSetup(setup);
    ProgramEnd end(peer, frontend);
    auto backend = std::make_unique<FakeDiscovery>();
    FakeDiscovery* fake = backend.get();
    MainWindow window(peer, frontend, end, std::move(backend));
    const int port = freePortRange(102);
    control<QLineEdit>(&window, kIdPortBox)->setText(QString::number(port));
    window.command(kIdListen);
    QTRY_VERIFY(fake->announced().has_value());
    QCOMPARE(fake->announced()->hints,
             (PeerHints{port + 101, setup->identity->fingerprint().shortText()}));

    // Verified while the computer is listed (as a session does): marked once the link ends.
    const Fingerprint friendKey = Identity::generate()->fingerprint();
    fake->emit(AvailabilityChanged{true, {}});
    fake->emit(found("Friend", "192.168.1.9", 6000, IpProtocol::V4,
                     PeerHints{std::nullopt, friendKey.shortText()}));
    auto* address = control<QComboBox>(&window, kIdAddressBox);
    QTRY_COMPARE(address->count(), 1);
    QVERIFY(!address->itemData(0, AddressList::kVerifiedRole).isValid());
    QCOMPARE(trust->remember(friendKey, "Friend", "192.168.1.9", std::chrono::sys_seconds{}).status,
             TrustStore::ChangeStatus::Done);
    window.command(kIdDisconnect);
    QTRY_COMPARE(address->itemData(0, AddressList::kVerifiedRole), QVariant(true));
    window.close();
  }

  void theDisplayNameIsEditedInADialog() {
    ScriptedFrontend frontend;
    Boxes boxes(frontend);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QInputDialog*>(widget); dialog && dialog->isVisible()) {
          dialog->setTextValue(QStringLiteral("Alice\u202E"));
          dialog->accept();
        }
      }
    });
    answer.start(10);
    boxes.list->editDisplayName(&boxes.window);
    QCOMPARE(boxes.list->displayName(), QStringLiteral("Alice"));
  }
};

}  // namespace brisk::test

int main(int argc, char** argv) {
  brisk::test::AddressListTest test;
  return brisk::test::runUiTest(argc, argv, test);
}

#include "address_list_test.moc"
