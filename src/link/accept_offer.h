#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "common/frontend.h"
#include "link/control_message.h"

namespace brisk {

// Where an accepted offer goes.
struct SaveLocation {
  std::filesystem::path folder;           // the save folder
  std::optional<std::string> saveAsName;  // one file: the name to save it under
  int openMode = 0;                       // one file: kOpenModeNew or kOpenModeResume
};

// The person's choice of a save location, or the dialog that failed or was closed.
struct SaveChoice {
  std::optional<SaveLocation> location;
  std::string failedDialog;  // "GetSaveFileName", "GetOpenFileName" or "SHBrowseForFolder"
};

// The name a single offered file is suggested under: the offer body's first line up to
// its first tab or line break (at most 511 characters).
std::string suggestedName(const std::string& offerBody);
// The suggested name's extension when it ends in a dot and exactly three other characters.
std::string defaultSuffix(const std::string& name);

// The notice for an offer that does not fit where it is to be saved: the bytes it still
// needs there (its size, less what already lies under its names, which a resume keeps)
// exceed the free space of that file system. Nothing when it fits or the free space
// cannot be told.
std::optional<std::string> spaceShortage(const OfferTerms& terms, const SaveLocation& location);

// Asks the person where an accepted offer goes: a file name for one file (Accept), an
// existing file to continue (Resume), or a folder for a folder or several items. When the
// person cancels, the choice names the dialog; the caller tells the peer, then the person.
// Runs on the offer's own thread.
SaveChoice chooseSaveLocation(Frontend& frontend, int fileCount, PromptAnswer answer,
                              const std::string& offerBody);

}  // namespace brisk
