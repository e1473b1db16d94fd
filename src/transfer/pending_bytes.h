#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace brisk {

// Bytes received and not yet used, taken from the front. Taking only moves a mark: a
// receive can bring a megabyte of small frames, and moving the rest forward for each one
// taken would copy that megabyte again for every frame. What was taken is dropped before
// more is appended, once it is at least half of what is held, so that each byte is moved
// at most about once.
class PendingBytes {
 public:
  bool empty() const { return begin_ == bytes_.size(); }
  std::size_t size() const { return bytes_.size() - begin_; }
  const char* data() const { return bytes_.data() + begin_; }
  std::string_view view() const { return {data(), size()}; }

  void append(const char* data, std::size_t count) {
    if (begin_ > 0 && begin_ >= bytes_.size() / 2) {
      bytes_.erase(0, begin_);
      begin_ = 0;
    }
    bytes_.append(data, count);
  }
  // Takes `count` bytes (at most size()) from the front.
  void consume(std::size_t count) {
    begin_ += count;
    if (begin_ >= bytes_.size()) clear();
  }
  // Takes everything held.
  std::string takeAll() {
    std::string all = begin_ == 0 ? std::move(bytes_) : bytes_.substr(begin_);
    clear();
    return all;
  }
  void clear() {
    bytes_.clear();
    begin_ = 0;
  }

 private:
  std::string bytes_;
  std::size_t begin_ = 0;
};

}  // namespace brisk
