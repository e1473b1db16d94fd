#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "common/frontend.h"

namespace brisk {

class Peer;

// Where an accepted offer goes.
struct SaveLocation {
  std::filesystem::path folder;           // the save folder
  std::optional<std::string> saveAsName;  // one file: the name to save it under
  int openMode = 0;                       // one file: kOpenModeNew or kOpenModeResume
};

// The name a single offered file is suggested under: the offer body's first line up to
// its first tab or line break (at most 511 characters).
std::string suggestedName(const std::string& offerBody);
// The suggested name's extension when it ends in a dot and exactly three other characters.
std::string defaultSuffix(const std::string& name);

// Asks the person where an accepted offer goes: a file name for one file (Accept), an
// existing file to continue (Resume), or a folder for a folder or several items.
// When the person cancels, the peer is told with a failure answer first, then the person
// is told; the result is then empty. Runs on the offer's dispatcher thread.
std::optional<SaveLocation> chooseSaveLocation(Peer& peer, int fileCount, PromptAnswer answer,
                                               const std::string& offerBody, int index);

}  // namespace brisk
