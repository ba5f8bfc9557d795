// Output of the tool: aligned "label  value" listings and tables for people,
// JSON for programs, and the progress bar of long transfers.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarsel::tool {

// Machine-readable output keeps the order in which fields are added.
using Json = nlohmann::ordered_json;

// A float as the shortest decimal that reads back to it (0.1f shows as 0.1,
// not 0.100000001); non-finite values as the strings "nan", "inf", "-inf".
Json JsonFloat(float value);
// A double as a JSON number; non-finite values as strings like JsonFloat.
Json JsonDouble(double value);

// A float with a fixed number of decimals, right-aligned in width.
std::string Fixed(float value, int width, int decimals);

// "major.minor.release" from three numbers.
std::string VersionText(int major, int minor, int release);

// Sections of "  label  value" lines, the values of all sections aligned
// after the longest label.
class Listing {
 public:
  Listing& Section(std::string title);
  Listing& Add(std::string label, std::string value);
  void Print(std::FILE* out = stdout) const;

 private:
  struct Row {
    bool heading;
    std::string label;
    std::string value;
  };
  std::vector<Row> rows_;
};

// Prints a JSON value with two-space indentation and a final newline.
void PrintJson(const Json& value, std::FILE* out = stdout);
// Prints a JSON value on one line (one record per line in watch mode).
void PrintJsonLine(const Json& value, std::FILE* out = stdout);

// A progress bar on a terminal ("\r[#####     ]  12/40 pages  30%"), redrawn
// in place; on anything else (a pipe, a log file) one line each time another
// tenth is done, so logs stay short.
class ProgressBar {
 public:
  ProgressBar(std::string label, std::FILE* out = stderr);
  void Update(int done, int total);
  // Ends the bar's line (when one was drawn).
  void Finish();

 private:
  std::string label_;
  std::FILE* out_;
  bool terminal_;
  bool drawn_ = false;
  int lastTenth_ = -1;
};

}  // namespace tarsel::tool
