// The arm's command numbers, each with the one shape it is exchanged in and
// the size of its payload.
#pragma once

namespace tarsel::sim {

enum class Shape {
  kRead,   // one request per answer packet; size: the answer's payload bytes
  kWrite,  // a message of ceil(size / 56) packets; size: the payload it must carry
  kBare,   // one packet without data
  kPage,   // a firmware page: 40 packets of a page offset and 52 image bytes
};

struct CommandInfo {
  int id;
  Shape shape;
  int size;
  const char* name;
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
