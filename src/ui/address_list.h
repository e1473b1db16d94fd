#pragma once

#include <memory>
#include <string>

#include <QObject>
#include <QString>

#include "common/discovery_settings.h"
#include "common/settings_store.h"
#include "discovery/discovery_backend.h"
#include "discovery/peer_list.h"

class QComboBox;
class QLineEdit;
class QMenu;

namespace brisk {

// The address box's list of computers found on the local network, and this computer's own
// announcement while it listens. The list shows the computers verified before first, then
// those seen most recently, at most PeerList::kMaxShown of them, and a last entry saying
// how many more were found; what the person types in the address box narrows it to the
// computers whose name or address contains it. Choosing a listed computer fills the
// address and port boxes; typing is never completed from the list. A computer whose
// announced fingerprint prefix is a verified one's is marked as probably verified before
// (a hint only: connecting checks the whole key). Keeps its three
// choices (announce, show what was found, the display name) in the settings store.
// Without a backend it lists nothing and announces nothing. GUI thread only.
class AddressList : public QObject {
  Q_OBJECT

 public:
  // Item data roles of the listed computers.
  static constexpr int kAddressRole = Qt::UserRole;
  static constexpr int kPortRole = Qt::UserRole + 1;
  // True for a computer marked as verified before.
  static constexpr int kVerifiedRole = Qt::UserRole + 2;

  // `verified` tells the computers verified before (none without it).
  AddressList(QComboBox* addressBox, QLineEdit* portBox, const SettingsStore& store,
              std::unique_ptr<DiscoveryBackend> backend,
              PeerList::VerifiedTestSource verified = {});
  // Stops the backend first: no event may arrive for a list that is gone.
  ~AddressList() override;

  // Whether this program listens for a peer now, on which port, and what its announcement
  // hints at.
  void setListening(bool listening, int port, const PeerHints& hints = {});
  // Looks again at which computers were verified before, for when that may have changed
  // (a session verified a peer, or a peer was forgotten).
  void recheckVerified();

  bool announcing() const { return settings_.announce; }
  void setAnnouncing(bool on);
  bool showingFound() const { return settings_.showFound; }
  void setShowingFound(bool on);
  // The name announced: the chosen one, else the default name.
  QString displayName() const;
  // Sets the name announced (sanitised); an empty name goes back to the default.
  void setDisplayName(const QString& name);

  // Adds "announce", "show" and "display name" to the main context menu.
  void addMenuActions(QMenu* menu) const;
  // Asks for a new display name.
  void editDisplayName(QWidget* parent);

  // Takes the announcement back and stops looking, for the program's end.
  void shutdown();

 private:
  void take(const DiscoveryEvent& event);
  void startBackend();
  void updateAnnouncement();
  void fill();
  void choose(int index);

  QComboBox* addressBox_;
  QLineEdit* portBox_;
  const SettingsStore& store_;
  std::unique_ptr<DiscoveryBackend> backend_;
  bool started_ = false;
  DiscoverySettings settings_;
  PeerList peers_;
  // What the person typed in the address box last; the list shows what matches it. Text
  // put there otherwise (the stored address, a chosen computer) filters nothing.
  QString filter_;
  bool listening_ = false;
  int listeningPort_ = 0;
  bool announced_ = false;
  std::string announcedName_;
  int announcedPort_ = 0;
  PeerHints listeningHints_;
  PeerHints announcedHints_;
};

}  // namespace brisk
