// Version queries: this library's own version and the versions of the code
// running on the arm.
#include <cstdint>

#include "core/catalogue.h"
#include "core/exchange.h"
#include "tarsel/maintenance.h"

namespace {

constexpr int kGetCodeVersion = tarsel::command::GetCodeVersion;

// One version word: byte 2 holds the most significant number, byte 1 the
// next, byte 0 the least; byte 3 carries nothing. Appends the three numbers,
// most significant first.
void ReadVersionWord(tarsel::PayloadReader& reader, std::vector<int>& out) {
  std::uint8_t number[3];
  reader.Field(number).Skip(1);
  out.push_back(number[2]);
  out.push_back(number[1]);
  out.push_back(number[0]);
}

// The code-version answer: ten version words, one single-byte number and
// three unused bytes, then two more version words (37 numbers in all). All 37
// numbers are appended or none: a vector that runs out of room midway is left
// as the caller passed it.
int DeserializeCodeVersion(int& offset, const Payload& payload, std::vector<int>& out) {
  std::vector<int> numbers;
  numbers.reserve(37);
  tarsel::PayloadReader reader(offset, payload);
  for (int word = 0; word < 10; ++word) ReadVersionWord(reader, numbers);
  std::uint8_t single;
  reader.Field(single).Skip(3);
  numbers.push_back(single);
  ReadVersionWord(reader, numbers);
  ReadVersionWord(reader, numbers);
  out.insert(out.end(), numbers.begin(), numbers.end());
  return 1;
}

}  // namespace

int GetAPIVersion(std::vector<int>& version) {
  return tarsel::Guarded([&] {
    version.clear();
    version.push_back(TARSEL_VERSION_MAJOR);
    version.push_back(TARSEL_VERSION_MINOR);
    version.push_back(TARSEL_VERSION_PATCH);
    return static_cast<int>(TARSEL_OK);
  });
}

int GetCodeVersion(std::vector<int>& versions) {
  return tarsel::ReadRecord(kGetCodeVersion, DeserializeCodeVersion, versions);
}
