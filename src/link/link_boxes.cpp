#include "link/link_boxes.h"

#include "common/settings_store.h"

namespace brisk {

std::optional<int> readPortBox(const std::string& portBoxText, Frontend& frontend) {
  const std::optional<int> port = controlPortFromText(portBoxText);
  if (!port) frontend.showNotice(kInvalidPortNotice);
  return port;
}

std::optional<LinkTarget> readLinkBoxes(const std::string& addressBoxText,
                                        const std::string& portBoxText, Frontend& frontend) {
  const std::optional<int> port = readPortBox(portBoxText, frontend);
  if (!port) return std::nullopt;
  return LinkTarget{firstCharacters(addressBoxText, kMaxAddressCharacters), *port};
}

}  // namespace brisk
