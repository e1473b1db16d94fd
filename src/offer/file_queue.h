#pragma once

#include <deque>
#include <string>

#include "platform/file_attributes.h"

namespace brisk {

// One offered top-level item: its name relative to the offer folder (UTF-8) and the
// attribute block the file system reported for it when the offer was made.
struct FileQueueEntry {
  std::string name;
  FileAttributeData attributeData;
};

// The top-level items of one offer, first in, first out, in the order they were chosen.
using FileQueue = std::deque<FileQueueEntry>;

// Appends an item at the end of the queue.
void fileQueuePush(FileQueue& queue, std::string name, const FileAttributeData& attributeData);

// Takes the first item out into `name` and `attributeData`. On an empty queue nothing
// happens, the outputs included, and the result is false.
bool fileQueuePop(FileQueue& queue, std::string& name, FileAttributeData& attributeData);

// Removes every item.
void fileQueueClear(FileQueue& queue);

}  // namespace brisk
