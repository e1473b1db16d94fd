#include "link/accept_offer.h"

#include "common/diagnostics.h"
#include "common/settings_store.h"
#include "common/transfer_record.h"

namespace brisk {

namespace {

SaveChoice fileLocation(const std::filesystem::path& chosen, int openMode) {
  return {SaveLocation{chosen.parent_path(), chosen.filename().string(), openMode}, {}};
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

SaveChoice chooseSaveLocation(Frontend& frontend, int fileCount, PromptAnswer answer,
                              const std::string& offerBody) {
  if (fileCount == 1 && answer == PromptAnswer::Accept) {
    const std::string name = suggestedName(offerBody);
    if (const auto chosen = frontend.chooseSaveFile(name, defaultSuffix(name))) {
      return fileLocation(*chosen, kOpenModeNew);
    }
    return {std::nullopt, kSaveFileStep};
  }
  if (fileCount == 1 && answer == PromptAnswer::Resume) {
    if (const auto chosen = frontend.chooseResumeFile(suggestedName(offerBody))) {
      return fileLocation(*chosen, kOpenModeResume);
    }
    return {std::nullopt, kResumeFileStep};
  }
  if (fileCount == 1) return {SaveLocation{}, {}};
  if (const auto folder = frontend.chooseFolder()) {
    return {SaveLocation{*folder, std::nullopt, 0}, {}};
  }
  return {std::nullopt, kFolderStep};
}

}  // namespace brisk
