#include "transfer/pending_bytes.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

namespace brisk {
namespace {

// Random appends and takes, against a plain string that erases from its front: the order
// and content survive every compaction, and takeAll leaves nothing behind.
TEST(PendingBytes, TakesFromTheFrontInOrderThroughCompactions) {
  std::mt19937 random(7);
  PendingBytes pending;
  std::string model;
  char next = 0;
  for (int step = 0; step < 20000; ++step) {
    if (random() % 2 == 0) {
      std::string piece(random() % 300, '\0');
      for (char& c : piece) c = next++;
      pending.append(piece.data(), piece.size());
      model += piece;
    } else {
      const std::size_t count = model.empty() ? 0 : random() % (model.size() + 1);
      ASSERT_EQ(pending.view().substr(0, count), std::string_view(model).substr(0, count));
      pending.consume(count);
      model.erase(0, count);
    }
    ASSERT_EQ(pending.size(), model.size());
    ASSERT_EQ(pending.empty(), model.empty());
    if (step % 5000 == 4999) {
      ASSERT_EQ(pending.takeAll(), model);
      model.clear();
      ASSERT_TRUE(pending.empty());
    }
  }
  ASSERT_EQ(pending.view(), model);
}

}  // namespace
}  // namespace brisk
