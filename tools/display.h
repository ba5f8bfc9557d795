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
// not 0.100000001); a non-finite one as the text the tool's files give it
// (core/value_text.h: "inf", "-inf", "nan", "-nan" or its bit pattern
// "0x7fc12345"), so that no NaN loses its payload.
Json JsonFloat(float value);
// A double as a JSON number; a non-finite one as its text (NumberText).
Json JsonDouble(double value);

// A number in listings: a float as its shortest decimal, a double as a
// JSON number prints; a non-finite one as JsonFloat gives it ("nan", "-inf",
// "0x7fc12345"; a double's NaN other than "nan" and "-nan" has 16 digits).
std::string NumberText(float value);
std::string NumberText(double value);

// A float with a fixed number of decimals, right-aligned in width; a
// non-finite one as its NumberText.
std::string Fixed(float value, int width, int decimals);

// One field of a record in a line of text (see FieldTexts): scalar when it
// holds one number.
struct FieldText {
  std::string name;
  std::string text;
  bool scalar = false;
};

// "major.minor.release" from three numbers.
std::string VersionText(int major, int minor, int release);

// Sections of "  label  value" lines, the values of all sections aligned
// after the longest label.
class Listing {
 public:
  Listing& Section(std::string title);
  Listing& Add(std::string label, std::string value);
  // Adds the scalar fields, a run of numbered ones (Value1, Value2 ...) on
  // one line of up to perLine values, "Value1-6";
  // leaves the others out.
  Listing& AddScalars(const std::vector<FieldText>& fields, std::size_t perLine = 6);
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
