#include "fuzz_frontend.h"

#include <fstream>

#include <unistd.h>

namespace brisk::fuzz {

unsigned FuzzFrontend::pick(unsigned count) {
  // A linear congruential step is plenty: the point is repeatability, not quality.
  std::uint64_t next = state_.load();
  while (
      !state_.compare_exchange_weak(next, next * 6364136223846793005ULL + 1442695040888963407ULL)) {
  }
  return static_cast<unsigned>((next >> 33) % count);
}

PromptAnswer FuzzFrontend::showPrompt(PromptHandle&, const PromptRequest& request) {
  // Any button, or closed without one.
  const unsigned choice = pick(static_cast<unsigned>(request.captions.size()) + 1);
  if (choice == 0) return PromptAnswer::None;
  return promptAnswerForButton(request.kind, static_cast<int>(choice) - 1);
}

std::optional<std::filesystem::path> FuzzFrontend::place(const std::string& name) {
  if (saveFolder_.empty() || pick(3) == 0) return std::nullopt;
  return saveFolder_ / name;
}

std::optional<std::filesystem::path> FuzzFrontend::chooseSaveFile(const std::string&,
                                                                  const std::string&) {
  return place("saved.bin");
}

std::optional<std::filesystem::path> FuzzFrontend::chooseResumeFile(const std::string&) {
  return place("resumed.bin");
}

std::optional<std::filesystem::path> FuzzFrontend::chooseFolder() {
  if (saveFolder_.empty() || pick(3) == 0) return std::nullopt;
  return saveFolder_;
}

FileExistsReply FuzzFrontend::askFileExists(const std::filesystem::path&) {
  // Any of the four buttons, or closed without one.
  constexpr FileExistsAnswer kAnswers[] = {FileExistsAnswer::None, FileExistsAnswer::Resume,
                                           FileExistsAnswer::TransferAgain, FileExistsAnswer::Skip,
                                           FileExistsAnswer::Stop};
  const FileExistsAnswer answer = kAnswers[pick(5)];
  return FileExistsReply{answer, pick(2) == 0};
}

void FuzzFrontend::offerEnded(const OfferEnd& end) {
  ++(end.ownOffer ? ownOffersEnded : peerOffersEnded);
  if (end.outcome == OfferOutcome::Accepted) ++transfersStarted;
}

std::uint64_t seedOf(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ULL;
  return hash;
}

std::filesystem::path scratchFolder(const char* name) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       (std::string(name) + "." + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

std::filesystem::path offeredFile(const std::filesystem::path& folder) {
  const std::filesystem::path file = folder / "offered.txt";
  std::ofstream(file, std::ios::binary) << "offered by the fuzzer";
  return file;
}

}  // namespace brisk::fuzz
