// The arm's command numbers, each with the one shape it is exchanged in and
// the size of its payload, as the command catalogue lists them.
#pragma once

#include "core/catalogue.h"

namespace tarsel::sim {

using tarsel::Shape;

struct CommandInfo {
  int id;
  Shape shape;
  // kRead: the answer's payload bytes; kWrite and kPage: the payload the
  // message must carry; kBare: 0.
  int size;
  const char* name;  // the host function that sends it
};

// The command with number id, or nullptr for a number the arm does not know.
const CommandInfo* FindCommand(int id);

// Every command the arm knows, in number order.
const CommandInfo* CommandTable(int& count);

// Firmware page framing.
constexpr int kPagePackets = 40;
constexpr int kPageBytes = 2048;
constexpr int kPageImageBytesPerPacket = 52;

}  // namespace tarsel::sim
