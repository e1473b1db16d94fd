#include "ui/address_list.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardItemModel>

#include "discovery/display_name.h"
#include "ui/control_ids.h"
#include "ui/readable_colour.h"

namespace brisk {

namespace {

constexpr int kMarkSize = 16;

// What the mark means, no more: the announced prefix can be anyone's.
QString verifiedHintText() {
  return QStringLiteral("曾验证（据它公布的指纹开头判断，仅供参考）：连接时仍会核对完整的密钥。");
}

// A check mark in green, lightened on a dark list until it stands out as text does.
QIcon verifiedMark(const QPalette& palette) {
  QPixmap mark(kMarkSize, kMarkSize);
  mark.fill(Qt::transparent);
  QPainter painter(&mark);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(readableLogColour(QColor(0x2E, 0x7D, 0x32), palette), 2.5, Qt::SolidLine,
                      Qt::RoundCap, Qt::RoundJoin));
  QPainterPath check;
  check.moveTo(3, 8.5);
  check.lineTo(6.5, 12);
  check.lineTo(13, 4);
  painter.drawPath(check);
  return QIcon(mark);
}

// Keeps the names of unmarked computers in line with those of marked ones.
QIcon blankMark() {
  QPixmap blank(kMarkSize, kMarkSize);
  blank.fill(Qt::transparent);
  return QIcon(blank);
}

}  // namespace

AddressList::AddressList(QComboBox* addressBox, QLineEdit* portBox, const SettingsStore& store,
                         std::unique_ptr<DiscoveryBackend> backend,
                         PeerList::VerifiedTestSource verified)
    : QObject(addressBox),
      addressBox_(addressBox),
      portBox_(portBox),
      store_(store),
      backend_(std::move(backend)),
      settings_(loadDiscoverySettings(store)),
      peers_(std::move(verified)) {
  settings_.displayName = sanitizeDisplayName(settings_.displayName);
  // Inline completion from the list would change what the person types.
  addressBox_->setCompleter(nullptr);
  connect(addressBox_, &QComboBox::activated, this, &AddressList::choose);
  // The port is shown beside an address only where it differs from the port box.
  connect(portBox_, &QLineEdit::textChanged, this, &AddressList::fill);
  if (QLineEdit* typed = addressBox_->lineEdit()) {
    connect(typed, &QLineEdit::textEdited, this, [this](const QString& text) {
      filter_ = text.trimmed();
      fill();
    });
  }
  if (settings_.showFound) startBackend();
}

AddressList::~AddressList() {
  backend_.reset();
}

void AddressList::startBackend() {
  if (started_ || !backend_) return;
  started_ = true;
  // Events come on the backend's thread; the list is kept on this one.
  backend_->start([this](DiscoveryEvent event) {
    QMetaObject::invokeMethod(
        this, [this, event = std::move(event)] { take(event); }, Qt::QueuedConnection);
  });
}

void AddressList::take(const DiscoveryEvent& event) {
  // A clash renamed us ("Alice #2") when AnnouncedAs says so; the backend took care of it.
  const bool changed = peers_.apply(event);
  if (std::holds_alternative<AvailabilityChanged>(event)) {
    // Plain text: the reason comes from the daemon's library, never from the network.
    addressBox_->setToolTip(peers_.available()
                                ? QString()
                                : QStringLiteral("无法查找局域网上的计算机：%1")
                                      .arg(QString::fromStdString(peers_.unavailableReason())));
  }
  if (changed) fill();
}

void AddressList::fill() {
  const QString typed = addressBox_->currentText();
  const int cursor = addressBox_->lineEdit() ? addressBox_->lineEdit()->cursorPosition() : 0;
  const int portBoxPort = portFromText(portBox_->text().toStdString());
  const QSignalBlocker quiet(addressBox_);
  addressBox_->clear();
  if (settings_.showFound) {
    const PeerList::Selection selection = peers_.select(filter_.toStdString());
    const bool anyVerified = std::any_of(selection.shown.begin(), selection.shown.end(),
                                         [](const DiscoveredPeer& peer) { return peer.verified; });
    const QIcon mark = anyVerified ? verifiedMark(addressBox_->view()->palette()) : QIcon();
    for (const DiscoveredPeer& peer : selection.shown) {
      QString text = QString::fromStdString(peer.name) + QStringLiteral(" — ") +
                     QString::fromStdString(peer.address);
      if (peer.port != portBoxPort) text += QStringLiteral(":%1").arg(peer.port);
      addressBox_->addItem(text);
      const int index = addressBox_->count() - 1;
      addressBox_->setItemData(index, QString::fromStdString(peer.address), kAddressRole);
      addressBox_->setItemData(index, peer.port, kPortRole);
      if (peer.verified) {
        addressBox_->setItemData(index, true, kVerifiedRole);
        addressBox_->setItemData(index, mark, Qt::DecorationRole);
        addressBox_->setItemData(index, verifiedHintText(), Qt::ToolTipRole);
        addressBox_->setItemData(index, verifiedHintText(), Qt::AccessibleDescriptionRole);
      } else if (anyVerified) {
        addressBox_->setItemData(index, blankMark(), Qt::DecorationRole);
      }
    }
    if (selection.more > 0) {
      // Says how many more there are and how to find them; it cannot be chosen.
      addressBox_->addItem(
          QStringLiteral("还有 %1 台计算机…（输入名称或地址查找）").arg(selection.more));
      if (auto* model = qobject_cast<QStandardItemModel*>(addressBox_->model())) {
        QStandardItem* more = model->item(addressBox_->count() - 1);
        more->setFlags(more->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
      }
    }
  }
  // Filling the list must not touch what is typed in the box.
  addressBox_->setCurrentIndex(-1);
  addressBox_->setEditText(typed);
  if (addressBox_->lineEdit()) addressBox_->lineEdit()->setCursorPosition(cursor);
}

void AddressList::choose(int index) {
  const QVariant address = addressBox_->itemData(index, kAddressRole);
  if (!address.isValid()) return;
  const QVariant port = addressBox_->itemData(index, kPortRole);
  portBox_->setText(QString::number(port.toInt()));
  addressBox_->setEditText(address.toString());
}

void AddressList::setListening(bool listening, int port, const PeerHints& hints) {
  listening_ = listening;
  listeningPort_ = port;
  listeningHints_ = hints;
  updateAnnouncement();
}

void AddressList::recheckVerified() {
  if (peers_.recheck()) fill();
}

void AddressList::updateAnnouncement() {
  const bool wanted = backend_ && listening_ && settings_.announce;
  const std::string name = displayName().toStdString();
  if (wanted) {
    if (announced_ && announcedPort_ == listeningPort_ && announcedName_ == name &&
        announcedHints_ == listeningHints_) {
      return;
    }
    startBackend();
    backend_->announce(name, listeningPort_, listeningHints_);
    announcedName_ = name;
    announcedPort_ = listeningPort_;
    announcedHints_ = listeningHints_;
  } else if (announced_) {
    backend_->withdraw();
  }
  announced_ = wanted;
}

void AddressList::setAnnouncing(bool on) {
  settings_.announce = on;
  saveDiscoverySettings(store_, settings_);
  updateAnnouncement();
}

void AddressList::setShowingFound(bool on) {
  settings_.showFound = on;
  saveDiscoverySettings(store_, settings_);
  if (on) startBackend();
  fill();
}

QString AddressList::displayName() const {
  return QString::fromStdString(settings_.displayName.empty() ? defaultDisplayName()
                                                              : settings_.displayName);
}

void AddressList::setDisplayName(const QString& name) {
  settings_.displayName = sanitizeDisplayName(name.toStdString());
  saveDiscoverySettings(store_, settings_);
  updateAnnouncement();
}

void AddressList::addMenuActions(QMenu* menu) const {
  menu->addSeparator();
  QAction* announce = menu->addAction(QStringLiteral("监听时在局域网上公布本机 (&P)"));
  announce->setData(kCmdAnnounce);
  announce->setCheckable(true);
  announce->setChecked(settings_.announce);
  QAction* show = menu->addAction(QStringLiteral("显示局域网上找到的计算机 (&F)"));
  show->setData(kCmdShowFound);
  show->setCheckable(true);
  show->setChecked(settings_.showFound);
  menu->addAction(QStringLiteral("本机显示名称... (&N)"))->setData(kCmdDisplayName);
}

void AddressList::editDisplayName(QWidget* parent) {
  bool accepted = false;
  const QString name = QInputDialog::getText(
      parent, QStringLiteral("本机显示名称"),
      QStringLiteral("局域网上的其他计算机看到的本机名称（留空则用默认名称）："), QLineEdit::Normal,
      displayName(), &accepted);
  if (accepted) setDisplayName(name);
}

void AddressList::shutdown() {
  backend_.reset();
  announced_ = false;
}

}  // namespace brisk
