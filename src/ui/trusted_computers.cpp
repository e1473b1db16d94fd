#include "ui/trusted_computers.h"

#include <QAction>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/help_dialogs.h"
#include "ui/notice_box.h"

namespace brisk {

namespace {

// Long enough for a computer's usual name, short enough that a question naming it stays
// a readable box whatever the peer called itself.
constexpr qsizetype kNameInQuestion = 60;

QString shortName(const QString& name) {
  return name.size() <= kNameInQuestion ? name : name.left(kNameInQuestion) + QChar(0x2026);
}

QString verifiedText(std::chrono::sys_seconds at) {
  const qint64 seconds = at.time_since_epoch().count();
  if (seconds <= 0) return QStringLiteral("未知");
  return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString addressesText(const std::vector<std::string>& addresses) {
  QStringList shown;
  for (const std::string& address : addresses) shown.append(QString::fromStdString(address));
  return shown.join(QStringLiteral(", "));
}

}  // namespace

QString trustedNameProblem(const QString& name) {
  const QString kept = name.trimmed();
  if (kept.isEmpty()) return QStringLiteral("名称不能为空。");
  if (static_cast<std::size_t>(kept.toUtf8().size()) > TrustStore::kMaxNameBytes) {
    return QStringLiteral("名称太长：最多 %1 字节（约 %2 个汉字）。")
        .arg(TrustStore::kMaxNameBytes)
        .arg(TrustStore::kMaxNameBytes / 3);
  }
  for (const QChar c : kept) {
    const QChar::Category category = c.category();
    if (category == QChar::Other_Control || category == QChar::Other_Format ||
        category == QChar::Separator_Line || category == QChar::Separator_Paragraph) {
      return QStringLiteral("名称不能含有控制字符或格式字符。");
    }
  }
  return {};
}

RenameDialog::RenameDialog(const QString& oldName, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("RenameDialog"));
  setWindowTitle(QStringLiteral("重命名"));
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel(QStringLiteral("“%1”的新名称(&M)：").arg(shortName(oldName)), this);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  box_ = new QLineEdit(oldName, this);
  box_->setObjectName(QStringLiteral("nameBox"));
  box_->setAccessibleName(QStringLiteral("新名称"));
  box_->setMinimumWidth(box_->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 36);
  box_->selectAll();
  label->setBuddy(box_);
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("problem"));
  problem_->setWordWrap(true);
  problem_->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &RenameDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &RenameDialog::reject);
  layout->addWidget(label);
  layout->addWidget(box_);
  layout->addWidget(problem_);
  layout->addWidget(buttons);
}

QString RenameDialog::name() const {
  return box_->text().trimmed();
}

void RenameDialog::accept() {
  const QString problem = trustedNameProblem(box_->text());
  if (problem.isEmpty()) {
    QDialog::accept();
    return;
  }
  problem_->setText(problem);
  problem_->show();
  box_->setFocus();
}

TrustedComputersDialog::TrustedComputersDialog(std::shared_ptr<TrustStore> store, QWidget* parent)
    : QDialog(parent), store_(std::move(store)) {
  setObjectName(QStringLiteral("TrustedComputersDialog"));
  setWindowTitle(QStringLiteral("已信任的计算机"));
  auto* layout = new QVBoxLayout(this);

  auto* intro =
      new QLabel(QStringLiteral("这些计算机与本机核对过验证码，再连接时不用再核对。忘记一台之后，"
                                "下次连接它要重新核对验证码。"),
                 this);
  intro->setWordWrap(true);
  layout->addWidget(intro);

  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("peerList"));
  list_->setAccessibleName(QStringLiteral("已信任的计算机"));
  list_->setHeaderLabels(
      {QStringLiteral("名称"), QStringLiteral("最近的地址"), QStringLiteral("验证时间")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);

  fingerprint_ = new QLabel(this);
  fingerprint_->setObjectName(QStringLiteral("fingerprint"));
  fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QFont fixed = fingerprint_->font();
  fixed.setFamily(QStringLiteral("monospace"));
  fixed.setStyleHint(QFont::Monospace);
  fingerprint_->setFont(fixed);
  layout->addWidget(fingerprint_);

  message_ = new QLabel(this);
  message_->setObjectName(QStringLiteral("message"));
  message_->setWordWrap(true);
  message_->setTextFormat(Qt::PlainText);
  message_->hide();
  layout->addWidget(message_);

  auto* row = new QHBoxLayout();
  rename_ = new QPushButton(QStringLiteral("重命名(&R)..."), this);
  forget_ = new QPushButton(QStringLiteral("忘记(&F)..."), this);
  auto* again = new QPushButton(QStringLiteral("刷新(&U)"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  rename_->setObjectName(QStringLiteral("renameButton"));
  forget_->setObjectName(QStringLiteral("forgetButton"));
  again->setObjectName(QStringLiteral("refreshButton"));
  close->setObjectName(QStringLiteral("closeButton"));
  for (QPushButton* button : {rename_, forget_, again, close}) button->setAutoDefault(false);
  row->addWidget(rename_);
  row->addWidget(forget_);
  row->addWidget(again);
  row->addStretch(1);
  row->addWidget(close);
  layout->addLayout(row);

  connect(rename_, &QPushButton::clicked, this, &TrustedComputersDialog::askRename);
  connect(forget_, &QPushButton::clicked, this, &TrustedComputersDialog::askForget);
  connect(again, &QPushButton::clicked, this, &TrustedComputersDialog::refresh);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(list_, &QTreeWidget::currentItemChanged, this, &TrustedComputersDialog::showSelection);
  connect(list_, &QTreeWidget::itemActivated, this, &TrustedComputersDialog::askRename);
  // The keys a file manager uses for the same two changes.
  const auto addKey = [this](QKeySequence key, void (TrustedComputersDialog::*run)()) {
    auto* action = new QAction(this);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(action, &QAction::triggered, this, run);
    list_->addAction(action);
  };
  addKey(QKeySequence(Qt::Key_F2), &TrustedComputersDialog::askRename);
  addKey(QKeySequence::Delete, &TrustedComputersDialog::askForget);

  resize(fontMetrics().horizontalAdvance(QLatin1Char('M')) * 52, fontMetrics().height() * 22);
  refresh();
  list_->setFocus();
}

void TrustedComputersDialog::refresh() {
  const TrustedPeer* before = selected();
  const std::optional<Fingerprint> kept =
      before ? std::optional<Fingerprint>(before->fingerprint) : std::nullopt;
  TrustStore::Peers read = store_->list();
  readable_ = read.ok();
  peers_ = std::move(read.peers);
  const QSignalBlocker quiet(list_);
  list_->clear();
  int current = peers_.empty() ? -1 : 0;
  for (std::size_t i = 0; i < peers_.size(); ++i) {
    const TrustedPeer& peer = peers_[i];
    auto* item =
        new QTreeWidgetItem(list_, {QString::fromStdString(peer.name),
                                    addressesText(peer.addresses), verifiedText(peer.verifiedAt)});
    item->setToolTip(0, QString::fromStdString(peer.fingerprint.groupedText()));
    if (kept && peer.fingerprint == *kept) current = static_cast<int>(i);
  }
  list_->setEnabled(readable_);
  if (!readable_) {
    message_->setText(QStringLiteral("无法读取已信任的计算机，这里不能更改：\n") +
                      QString::fromStdString(read.error));
    message_->show();
  } else if (peers_.empty()) {
    message_->setText(
        QStringLiteral("还没有已信任的计算机。第一次连接并核对验证码之后，"
                       "对方会出现在这里。"));
    message_->show();
  } else {
    message_->hide();
  }
  if (current >= 0) list_->setCurrentItem(list_->topLevelItem(current));
  showSelection();
}

void TrustedComputersDialog::select(int row) {
  if (QTreeWidgetItem* item = list_->topLevelItem(row)) list_->setCurrentItem(item);
}

const TrustedPeer* TrustedComputersDialog::selected() const {
  const int row = list_ ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
  if (row < 0 || static_cast<std::size_t>(row) >= peers_.size()) return nullptr;
  return &peers_[static_cast<std::size_t>(row)];
}

void TrustedComputersDialog::showSelection() {
  const TrustedPeer* peer = selected();
  rename_->setEnabled(readable_ && peer != nullptr);
  forget_->setEnabled(readable_ && peer != nullptr);
  fingerprint_->setText(
      peer ? QStringLiteral("指纹：\n") +
                 fingerprintInTwoLines(QString::fromStdString(peer->fingerprint.groupedText()))
           : QString());
  fingerprint_->setVisible(peer != nullptr);
}

QString TrustedComputersDialog::finishChange(const TrustStore::Change& change,
                                             const QString& peerName) {
  QString problem;
  if (change.status == TrustStore::ChangeStatus::NotFound) {
    problem = QStringLiteral("“%1”已不在已信任的计算机中，可能刚在别处被忘记了。")
                  .arg(shortName(peerName));
  } else if (change.status == TrustStore::ChangeStatus::Failed) {
    problem = QStringLiteral("无法更改已信任的计算机：\n") + QString::fromStdString(change.error);
  }
  refresh();
  if (!problem.isEmpty()) {
    message_->setText(problem);
    message_->show();
  }
  return problem;
}

QString TrustedComputersDialog::renameSelected(const QString& name) {
  const TrustedPeer* peer = selected();
  if (!readable_ || !peer) return QStringLiteral("没有选中的计算机。");
  return renamePeer(peer->fingerprint, QString::fromStdString(peer->name), name);
}

QString TrustedComputersDialog::forgetSelected() {
  const TrustedPeer* peer = selected();
  if (!readable_ || !peer) return QStringLiteral("没有选中的计算机。");
  return forgetPeer(peer->fingerprint, QString::fromStdString(peer->name));
}

QString TrustedComputersDialog::renamePeer(const Fingerprint& peer, const QString& oldName,
                                           const QString& name) {
  if (QString problem = trustedNameProblem(name); !problem.isEmpty()) return problem;
  return finishChange(store_->rename(peer, name.trimmed().toStdString()), oldName);
}

QString TrustedComputersDialog::forgetPeer(const Fingerprint& peer, const QString& name) {
  return finishChange(store_->forget(peer), name);
}

// The peer is taken by its fingerprint before the person is asked: the list may be read
// again meanwhile (on coming back to the window), and the answer is about the peer named.
void TrustedComputersDialog::askRename() {
  const TrustedPeer* peer = selected();
  if (!readable_ || !peer) return;
  const Fingerprint fingerprint = peer->fingerprint;
  const QString oldName = QString::fromStdString(peer->name);
  RenameDialog dialog(oldName, this);
  if (dialog.exec() == QDialog::Accepted) renamePeer(fingerprint, oldName, dialog.name());
}

void TrustedComputersDialog::askForget() {
  const TrustedPeer* peer = selected();
  if (!readable_ || !peer) return;
  const Fingerprint fingerprint = peer->fingerprint;
  const QString name = QString::fromStdString(peer->name);
  QMessageBox* box = createQuestionBox(
      QStringLiteral("忘记“%1”吗？\n指纹：\n%2\n\n忘记之后，下次连接它要重新核对验证码。")
          .arg(shortName(name),
               fingerprintInTwoLines(QString::fromStdString(fingerprint.groupedText()))));
  box->setWindowModality(Qt::WindowModal);
  box->setDefaultButton(QMessageBox::No);
  if (box->exec() == QMessageBox::Yes) forgetPeer(fingerprint, name);
}

void TrustedComputersDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // Coming back to the window after working elsewhere (in a terminal with brisk-peer,
  // say) shows the store as it is now.
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && list_) refresh();
}

}  // namespace brisk
