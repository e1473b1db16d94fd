#include "link/accept_offer.h"

#include "common/settings_store.h"
#include "common/transfer_record.h"
#include "link/message_builders.h"
#include "link/peer.h"

namespace brisk {

namespace {

// Answers the peer that choosing a location failed, then tells the person.
void reportFailedChoice(Peer& peer, const std::string& dialog, int index) {
  peer.sendText(replyChoiceFailed(dialog, index));
  peer.notices().showNoticeModal(dialog + " failed or closed.");
}

SaveLocation fileLocation(const std::filesystem::path& chosen, int openMode) {
  return SaveLocation{chosen.parent_path(), chosen.filename().string(), openMode};
}

}  // namespace

std::string suggestedName(const std::string& offerBody) {
  const std::string line = offerBody.substr(0, offerBody.find_first_of("\t\r\n"));
  return firstCharacters(line, 511);
}

std::string defaultSuffix(const std::string& name) {
  if (name.size() < 4 || name[name.size() - 4] != '.') return {};
  const std::string suffix = name.substr(name.size() - 3);
  return suffix.find('.') == std::string::npos ? suffix : std::string();
}

std::optional<SaveLocation> chooseSaveLocation(Peer& peer, int fileCount, PromptAnswer answer,
                                               const std::string& offerBody, int index) {
  Frontend& frontend = peer.frontend();
  if (fileCount == 1 && answer == PromptAnswer::Accept) {
    const std::string name = suggestedName(offerBody);
    if (const auto chosen = frontend.chooseSaveFile(name, defaultSuffix(name))) {
      return fileLocation(*chosen, kOpenModeNew);
    }
    reportFailedChoice(peer, "GetSaveFileName", index);
    return std::nullopt;
  }
  if (fileCount == 1 && answer == PromptAnswer::Resume) {
    if (const auto chosen = frontend.chooseResumeFile(suggestedName(offerBody))) {
      return fileLocation(*chosen, kOpenModeResume);
    }
    reportFailedChoice(peer, "GetOpenFileName", index);
    return std::nullopt;
  }
  if (fileCount == 1) return SaveLocation{};
  if (const auto folder = frontend.chooseFolder()) return SaveLocation{*folder, std::nullopt, 0};
  reportFailedChoice(peer, "SHBrowseForFolder", index);
  return std::nullopt;
}

}  // namespace brisk
