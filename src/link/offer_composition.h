#pragma once

#include <filesystem>
#include <vector>

namespace brisk {

class Peer;

// Offers files chosen in the open-files dialog: first checks the connection and a free
// slot, then asks the person (nothing happens when the dialog is cancelled). For the
// user-interface thread.
void offerFromDialog(Peer& peer);

// Offers the dropped files and folders (full paths) as one offer. For the user-interface
// thread.
void offerFromDrop(Peer& peer, const std::vector<std::filesystem::path>& items);

// Offers `items` (full paths) in the slot `index`, which the caller has reserved; frees
// the reservation when the offer is not made. Checks nothing else. The offer is queued
// behind the person's earlier messages; the caller never waits for it to go out.
void offerItems(Peer& peer, int index, const std::vector<std::filesystem::path>& items);

}  // namespace brisk
