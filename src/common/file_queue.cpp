#include "common/file_queue.h"

namespace brisk {

void fileQueuePush(FileQueue& queue, std::string name, const FileAttributeData& attributeData,
                   std::filesystem::path folder) {
  queue.push_back(FileQueueEntry{std::move(name), attributeData, std::move(folder)});
}

bool fileQueuePop(FileQueue& queue, std::string& name, FileAttributeData& attributeData) {
  if (queue.empty()) return false;
  name = std::move(queue.front().name);
  attributeData = queue.front().attributeData;
  queue.pop_front();
  return true;
}

void fileQueueClear(FileQueue& queue) {
  queue.clear();
}

}  // namespace brisk
