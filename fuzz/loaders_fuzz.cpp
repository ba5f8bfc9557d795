// The tool's JSON loaders of the stored blocks (`tarsel config load`, `zones
// load`, `mapping load`) on arbitrary text. Byte 0 picks the block, the rest
// is the file's text.
//
// A document is either refused with a JsonError (the tool's message) or
// loaded; any other exception would end the tool. A loaded block must
// round-trip exactly: written to JSON and read back, as a value and as file
// text, it gives the same record bits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "block_json.h"
#include "fuzz_input.h"

namespace {

using tarsel::tool::BlockJson;
using tarsel::tool::JsonError;

template <typename Record>
void RoundTrip(const BlockJson& document) {
  static Record loaded;
  try {
    tarsel::tool::FromJson(document, loaded);
  } catch (const JsonError&) {
    return;  // refused with a message: fine
  }
  static Record again;
  static Record fromText;
  tarsel::tool::FromJson(tarsel::tool::ToJson(loaded), again);
  const std::string text = tarsel::tool::WriteDocument(tarsel::tool::ToJson(loaded));
  tarsel::tool::FromJson(tarsel::tool::ReadDocument(text, "written"), fromText);
  if (std::memcmp(&loaded, &again, sizeof loaded) != 0 ||
      std::memcmp(&loaded, &fromText, sizeof loaded) != 0) {
    std::fprintf(stderr, "a loaded block does not read back the same\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarsel::fuzzing::Input in(data, size);
  const std::uint8_t block = in.Byte();
  const std::string text(reinterpret_cast<const char*>(in.rest()), in.left());
  BlockJson document;
  try {
    document = tarsel::tool::ReadDocument(text, "input");
  } catch (const JsonError&) {
    return 0;
  }
  switch (block % 3) {
    case 0:
      RoundTrip<ClientConfigurations>(document);
      break;
    case 1:
      RoundTrip<ZoneList>(document);
      break;
    default:
      RoundTrip<ControlMappingCharts>(document);
      break;
  }
  return 0;
}
