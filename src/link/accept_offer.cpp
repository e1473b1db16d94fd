#include "link/accept_offer.h"

#include "common/diagnostics.h"
#include "common/settings_store.h"
#include "common/size_text.h"
#include "common/transfer_record.h"
#include "platform/file_system.h"

namespace brisk {

namespace {

SaveChoice fileLocation(const std::filesystem::path& chosen, int openMode) {
  return {SaveLocation{chosen.parent_path(), chosen.filename().string(), openMode}, {}};
}

}  // namespace

std::optional<std::string> spaceShortage(const OfferTerms& terms, const SaveLocation& location) {
  std::vector<std::string> names;
  if (location.saveAsName) {
    names.push_back(*location.saveAsName);
  } else {
    // The item lines, up to the blank line before the totals.
    for (std::size_t at = 0; at < terms.body.size();) {
      const std::size_t end = std::min(terms.body.find("\r\n", at), terms.body.size());
      const std::string line = terms.body.substr(at, end - at);
      if (line.empty()) break;
      names.push_back(line.substr(0, line.find('\t')));
      at = end + 2;
    }
  }
  std::uint64_t present = 0;
  for (const std::string& name : names) {
    if (!isValidReceivedName(name)) continue;  // never looked up outside the folder
    const std::filesystem::path path = location.folder / name;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
      present += folderSize(path);
    } else if (const auto size = std::filesystem::file_size(path, error); !error) {
      present += size;
    }
  }
  const std::uint64_t needed = terms.offeredBytes > present ? terms.offeredBytes - present : 0;
  const std::optional<std::uint64_t> free = freeBytesAt(location.folder);
  if (!free || needed <= *free) return std::nullopt;
  return "保存位置的磁盘空间不足，无法接收：\r\n还需要 " + sizeText(needed) + "，只有 " +
         sizeText(*free) + " 可用。\r\n" + location.folder.string();
}

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
