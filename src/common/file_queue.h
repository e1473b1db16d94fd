#pragma once

#include <deque>
#include <filesystem>
#include <string>

#include "platform/file_attributes.h"

namespace brisk {

// One offered top-level item: its name (UTF-8), the attribute block the file system
// reported for it when the offer was made, and the folder it lies in. Items of one offer
// may come from different folders (a drop from a search view); each is sent from its own.
struct FileQueueEntry {
  std::string name;
  FileAttributeData attributeData;
  std::filesystem::path folder;  // empty: the record's offer folder
};

// The top-level items of one offer, first in, first out, in the order they were chosen.
using FileQueue = std::deque<FileQueueEntry>;

// Appends an item at the end of the queue.
void fileQueuePush(FileQueue& queue, std::string name, const FileAttributeData& attributeData,
                   std::filesystem::path folder = {});

// Takes the first item out into `name` and `attributeData`. On an empty queue nothing
// happens, the outputs included, and the result is false.
bool fileQueuePop(FileQueue& queue, std::string& name, FileAttributeData& attributeData);

// Removes every item.
void fileQueueClear(FileQueue& queue);

}  // namespace brisk
