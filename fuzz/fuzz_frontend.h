#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/silent_frontend.h"

namespace brisk::fuzz {

// A Frontend for fuzzers: shows nothing, never blocks, and answers every question at
// random from a seed the fuzzer derives from its input, so that a run is repeatable.
// Places to save go to `saveFolder`, when one is given.
class FuzzFrontend : public SilentFrontend {
 public:
  explicit FuzzFrontend(std::uint64_t seed, std::filesystem::path saveFolder = {})
      : state_(seed | 1), saveFolder_(std::move(saveFolder)) {}

  // A number in [0, count), from the seed's sequence. Any thread.
  unsigned pick(unsigned count);

  bool askYesNo(const std::string&) override { return pick(2) == 0; }
  PromptAnswer showPrompt(PromptHandle& handle, const PromptRequest& request) override;
  std::optional<std::filesystem::path> chooseSaveFile(const std::string& suggestedName,
                                                      const std::string& defaultSuffix) override;
  std::optional<std::filesystem::path> chooseResumeFile(const std::string& suggestedName) override;
  std::optional<std::filesystem::path> chooseFolder() override;
  FileExistsReply askFileExists(const std::filesystem::path&) override;
  TransferWindowId openTransferWindow(const TransferWindowSetup&) override { return 1; }
  // Counted, so that a fuzzer can check that every offer and transfer ended once.
  void offerEnded(const OfferEnd& end) override;
  void transferEnded(const TransferEnd&) override { ++transfersEnded; }

  std::atomic<int> ownOffersEnded{0};
  std::atomic<int> peerOffersEnded{0};
  std::atomic<int> transfersStarted{0};  // offers ended as accepted
  std::atomic<int> transfersEnded{0};

 private:
  std::optional<std::filesystem::path> place(const std::string& name);

  std::atomic<std::uint64_t> state_;
  const std::filesystem::path saveFolder_;
};

// A stable seed from the fuzzer's input bytes.
std::uint64_t seedOf(const std::uint8_t* data, std::size_t size);

// A fresh, empty folder below the system's temporary folder, made once per process.
std::filesystem::path scratchFolder(const char* name);
// A small file in `folder` for offers of the fuzzer's own.
std::filesystem::path offeredFile(const std::filesystem::path& folder);

}  // namespace brisk::fuzz
