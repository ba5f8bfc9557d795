#include "blocks.h"

namespace tarsel::sim {

namespace {

const StoredBlockLine* Find(int StoredBlockLine::*column, int command) {
  if (command == kNoCommand) return nullptr;
  for (const StoredBlockLine& line : kStoredBlocks) {
    if (line.*column == command) return &line;
  }
  return nullptr;
}

}  // namespace

const StoredBlockLine* StoredBlockRead(int command) {
  return Find(&StoredBlockLine::read, command);
}
const StoredBlockLine* StoredBlockWrite(int command) {
  return Find(&StoredBlockLine::write, command);
}
const StoredBlockLine* StoredBlockErase(int command) {
  return Find(&StoredBlockLine::erase, command);
}

void RestoreStoredBlocks(StoredBlocks& blocks) {
  for (const StoredBlockLine& line : kStoredBlocks) line.restore(blocks);
}

}  // namespace tarsel::sim
