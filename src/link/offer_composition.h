#pragma once

#include <filesystem>
#include <vector>

#include "link/link_context.h"

namespace brisk {

enum class OfferPicker { Files, Folders };

// Offers files (or folders) chosen in a dialog: first checks the connection and a free
// slot, then asks the person (nothing happens when the dialog is cancelled). The offer is
// composed on a Peer thread (see offerDropped). For the user-interface thread.
void offerFromDialog(LinkContext& link, OfferPicker picker);

// Offers the dropped files and folders (full paths) as one offer. Returns once the slot
// and the offer's place among the person's messages are kept: the items are read and
// their folders totalled on a Peer thread, and what the person sends meanwhile goes out
// after the offer. For the user-interface thread.
void offerDropped(LinkContext& link, const std::vector<std::filesystem::path>& items);

// Offers `items` (full paths) in the slot `key`, which the caller has reserved; the offer
// ends as failed when it cannot be made. Checks nothing else. Composes the offer on the
// caller's thread and queues it behind the person's earlier messages; the caller never
// waits for it to go out.
void offerItems(LinkContext& link, const OfferKey& key,
                const std::vector<std::filesystem::path>& items);

}  // namespace brisk
