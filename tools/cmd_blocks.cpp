// tarsel config|zones|mapping dump [FILE] / load FILE, tarsel zones erase.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "block_json.h"
#include "commands.h"
#include "record_form.h"
#include "tarsel/tarsel.h"

namespace tarsel::tool {

namespace {

// What differs between the three blocks.
template <class Record>
struct Block;

template <>
struct Block<ClientConfigurations> {
  static constexpr const char* kCommand = "config";
  static constexpr const char* kWhat = "client configuration";
  static constexpr const char* kRead = "GetClientConfigurations";
  static constexpr const char* kWrite = "SetClientConfigurations";
  static int Read(ClientConfigurations& r) { return GetClientConfigurations(&r); }
  static int Write(const ClientConfigurations& r) { return SetClientConfigurations(r); }
};

template <>
struct Block<ZoneList> {
  static constexpr const char* kCommand = "zones";
  static constexpr const char* kWhat = "protection zones";
  static constexpr const char* kRead = "GetProtectionZone";
  static constexpr const char* kWrite = "SetProtectionZone";
  static int Read(ZoneList& r) { return GetProtectionZone(&r); }
  static int Write(const ZoneList& r) { return SetProtectionZone(r); }
};

template <>
struct Block<ControlMappingCharts> {
  static constexpr const char* kCommand = "mapping";
  static constexpr const char* kWhat = "control mapping";
  static constexpr const char* kRead = "GetControlMapping";
  static constexpr const char* kWrite = "SetControlMapping";
  static int Read(ControlMappingCharts& r) { return GetControlMapping(&r); }
  static int Write(const ControlMappingCharts& r) { return SetControlMapping(r); }
};

bool IsStdStream(const std::string& path) {
  return path.empty() || path == "-";
}

std::string ReadText(const std::string& path) {
  std::FILE* file = IsStdStream(path) ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw Failure(fmt::format("cannot open {}: {}", path, std::strerror(errno)));
  std::string text;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) throw Failure(fmt::format("cannot read {}", IsStdStream(path) ? "stdin" : path));
  return text;
}

void WriteStream(std::FILE* out, const std::string& text, const std::string& name) {
  if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
    throw Failure(fmt::format("cannot write to {}: {}", name, std::strerror(errno)));
  }
}

// Writes text to path ("-" or empty: stdout). A regular file is replaced only
// once the whole text is written, so a failed dump never leaves half a file;
// anything else (a pipe, /dev/stdout) is written directly.
void WriteText(const std::string& path, const std::string& text) {
  if (IsStdStream(path)) return WriteStream(stdout, text, "stdout");
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      throw Failure(fmt::format("cannot open {}: {}", path, std::strerror(errno)));
    }
    try {
      WriteStream(file, text, path);
    } catch (...) {
      std::fclose(file);
      throw;
    }
    std::fclose(file);
    return;
  }
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    throw Failure(fmt::format("cannot create {}: {}", temporary, std::strerror(errno)));
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temporary.c_str());
    throw Failure(fmt::format("cannot write {}: {}", path, std::strerror(error)));
  }
}

template <class Record>
Record ReadBlock() {
  Record record{};
  Check(Block<Record>::Read(record), Block<Record>::kRead);
  return record;
}

template <class Record>
void RunDump(const Context& context, const std::string& path) {
  std::unique_ptr<Record> record;
  {
    Session session(context.connect);
    record = std::make_unique<Record>(ReadBlock<Record>());
  }
  WriteText(path, WriteDocument(ToJson(*record)));
  if (!IsStdStream(path)) fmt::print("Saved the {} to {}.\n", Block<Record>::kWhat, path);
}

struct LoadOptions {
  std::string path;
  bool verify = true;
  std::string readBack;
};

template <class Record>
void RunLoad(const Context& context, const LoadOptions& o) {
  const std::string source = IsStdStream(o.path) ? "stdin" : o.path;
  // The whole file is checked before anything is sent.
  auto record = std::make_unique<Record>();
  FromJson(ReadDocument(ReadText(o.path), source), *record);

  Session session(context.connect);
  Check(Block<Record>::Write(*record), Block<Record>::kWrite);
  if (!o.verify && o.readBack.empty()) {
    fmt::print("Loaded the {} from {}.\n", Block<Record>::kWhat, source);
    return;
  }
  auto back = std::make_unique<Record>(ReadBlock<Record>());
  if (!o.readBack.empty()) WriteText(o.readBack, WriteDocument(ToJson(*back)));
  if (o.verify) {
    // What the arm is sent but never reports cannot be checked.
    auto keep = [](const char*, const auto& sent, auto& read) {
      std::memcpy(&read, &sent, sizeof read);
    };
    ForEachSent<Form<Record>>(*record, *back, keep);
    const std::string difference = FirstDifference(ToJson(*record), ToJson(*back));
    if (!difference.empty()) {
      throw Failure(
          fmt::format("the arm took the {} but reads it back differently: {} "
                      "(sent vs read back)",
                      Block<Record>::kWhat, difference));
    }
  }
  fmt::print("Loaded the {} from {}{}.\n", Block<Record>::kWhat, source,
             o.verify ? "; the arm reads it back identical" : "");
}

template <class Record>
CLI::App* AddBlock(CLI::App& app, const Context& context, const std::string& description,
                   const std::string& note) {
  CLI::App* group = app.add_subcommand(Block<Record>::kCommand, description);
  group->require_subcommand(1);
  std::string footer = note;
  if (const std::vector<std::string> sent = SentNames<Record>(); !sent.empty()) {
    footer += fmt::format(
        "{}Sent by load but never reported by the arm (a dump shows them as 0, and load does not "
        "check them when it reads the {} back): {}.",
        footer.empty() ? "" : " ", Block<Record>::kWhat, fmt::join(sent, ", "));
  }
  if (!footer.empty()) group->footer(footer);

  auto dumpPath = std::make_shared<std::string>();
  CLI::App* dump = group->add_subcommand(
      "dump", fmt::format("Read the {} from the arm and save it as JSON", Block<Record>::kWhat));
  dump->add_option("FILE", *dumpPath, "File to write (default or -: stdout)");
  dump->callback([&context, dumpPath] { RunDump<Record>(context, *dumpPath); });

  auto load = std::make_shared<LoadOptions>();
  CLI::App* loader = group->add_subcommand(
      "load", fmt::format("Write the {} from a JSON file (as dump makes it) into the arm",
                          Block<Record>::kWhat));
  loader->add_option("FILE", load->path, "File to read (-: stdin)")->required();
  loader->add_flag("!--no-verify", load->verify,
                   "Do not read the block back to check that the arm holds what was sent");
  loader->add_option("--read-back", load->readBack,
                     "Also save the block as read back after writing it to this file");
  loader->callback([&context, load] { RunLoad<Record>(context, *load); });
  return group;
}

}  // namespace

void AddBlockCommands(CLI::App& app, const Context& context) {
  AddBlock<ClientConfigurations>(app, context, "The client configuration block (JSON)",
                                 "Stored positions beyond their count (and the reserved tail) "
                                 "never travel, so the file holds only the ones that do.");

  CLI::App* zones = AddBlock<ZoneList>(app, context, "The ten protection zones (JSON)", "");
  CLI::App* erase = zones->add_subcommand("erase", "Clear every protection zone");
  erase->callback([&context] {
    Session session(context.connect);
    Check(EraseAllProtectionZones(), "EraseAllProtectionZones");
    fmt::print("Erased the protection zones.\n");
  });

  AddBlock<ControlMappingCharts>(app, context, "The control-mapping charts (JSON)", "");
}

}  // namespace tarsel::tool
