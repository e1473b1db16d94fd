#include "common/file_queue.h"

#include <gtest/gtest.h>

namespace brisk {
namespace {

FileAttributeData attributesOfSize(std::uint64_t size) {
  FileAttributeData data;
  data.attributes = kAttributeArchive;
  data.size = size;
  return data;
}

TEST(FileQueue, ItemsComeOutInTheOrderTheyWentIn) {
  FileQueue queue;
  fileQueuePush(queue, "a.txt", attributesOfSize(1));
  fileQueuePush(queue, "照片", attributesOfSize(2));
  fileQueuePush(queue, "c.bin", attributesOfSize(3));

  std::string name;
  FileAttributeData data;
  for (const auto& [expectedName, expectedSize] :
       {std::pair{"a.txt", 1}, std::pair{"照片", 2}, std::pair{"c.bin", 3}}) {
    ASSERT_TRUE(fileQueuePop(queue, name, data));
    EXPECT_EQ(name, expectedName);
    EXPECT_EQ(data.size, static_cast<std::uint64_t>(expectedSize));
  }
  EXPECT_TRUE(queue.empty());
}

TEST(FileQueue, PoppingAnEmptyQueueLeavesTheOutputsAlone) {
  FileQueue queue;
  std::string name = "unchanged";
  FileAttributeData data = attributesOfSize(42);
  EXPECT_FALSE(fileQueuePop(queue, name, data));
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(data.size, 42u);
}

TEST(FileQueue, ClearEmptiesAnyQueue) {
  FileQueue queue;
  fileQueueClear(queue);
  EXPECT_TRUE(queue.empty());
  for (int i = 0; i < 5; ++i) fileQueuePush(queue, std::to_string(i), attributesOfSize(0));
  fileQueueClear(queue);
  EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace brisk
