#pragma once

#include <memory>

#include <QDialog>
#include <QString>

#include "secure/trust_store.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace brisk {

// Why `name` cannot be a trusted computer's name, for the person; empty when it can.
// A name has some visible text, fits the store's limit in UTF-8 and holds no control or
// formatting characters, which could make a warning or the code's question read otherwise.
QString trustedNameProblem(const QString& name);

// Asks for a trusted computer's new name. A name the store would not keep is refused in
// the dialog, which stays open with the text as typed.
class RenameDialog : public QDialog {
  Q_OBJECT

 public:
  RenameDialog(const QString& oldName, QWidget* parent);
  // The name as it is to be kept (trimmed); valid after the dialog was accepted.
  QString name() const;
  void accept() override;

 private:
  QLineEdit* box_ = nullptr;
  QLabel* problem_ = nullptr;
};

// 已信任的计算机: the peers this installation verified, with their fingerprints, where
// they were last seen and when they were verified. The person renames or forgets one
// here. The store is read afresh on opening, on 刷新, whenever the window becomes active
// and after every change, so changes made meanwhile by another Brisk process show. A store
// that cannot be read shows why and offers nothing to change. GUI thread.
class TrustedComputersDialog : public QDialog {
  Q_OBJECT

 public:
  TrustedComputersDialog(std::shared_ptr<TrustStore> store, QWidget* parent);

  // Reads the store again, keeping the selected peer selected if it is still there.
  void refresh();
  // The peers as last read (empty while the store cannot be read).
  const std::vector<TrustedPeer>& peers() const { return peers_; }
  // Selects the peer at `row` of peers().
  void select(int row);

  // What the buttons do once the person has answered: renames or forgets the selected
  // peer, then reads the store again. Empty on success, else what went wrong (also shown
  // in the window).
  QString renameSelected(const QString& name);
  QString forgetSelected();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  const TrustedPeer* selected() const;
  void showSelection();
  void askRename();
  void askForget();
  QString renamePeer(const Fingerprint& peer, const QString& oldName, const QString& name);
  QString forgetPeer(const Fingerprint& peer, const QString& name);
  // Shows the outcome of a change and reads the store again.
  QString finishChange(const TrustStore::Change& change, const QString& peerName);

  std::shared_ptr<TrustStore> store_;
  std::vector<TrustedPeer> peers_;
  bool readable_ = false;

  QTreeWidget* list_ = nullptr;
  QLabel* fingerprint_ = nullptr;
  QLabel* message_ = nullptr;
  QPushButton* rename_ = nullptr;
  QPushButton* forget_ = nullptr;
};

}  // namespace brisk
