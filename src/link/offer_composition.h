#pragma once

#include <filesystem>
#include <vector>

namespace brisk {

class Peer;

// Offers files chosen in the open-files dialog: first checks the connection and a free
// slot, then asks the person (nothing happens when the dialog is cancelled). The offer is
// composed on a Peer thread (see offerFromDrop). For the user-interface thread.
void offerFromDialog(Peer& peer);

// Offers the dropped files and folders (full paths) as one offer. Returns once the slot
// and the offer's place among the person's messages are kept: the items are read and
// their folders totalled on a Peer thread, and what the person sends meanwhile goes out
// after the offer. For the user-interface thread.
void offerFromDrop(Peer& peer, const std::vector<std::filesystem::path>& items);

// Offers `items` (full paths) in the slot `index`, which the caller has reserved; frees
// the reservation when the offer is not made. Checks nothing else. Composes the offer on
// the caller's thread and queues it behind the person's earlier messages; the caller
// never waits for it to go out.
void offerItems(Peer& peer, int index, const std::vector<std::filesystem::path>& items);

}  // namespace brisk
