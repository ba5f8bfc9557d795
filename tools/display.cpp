#include "display.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/core.h>

namespace tarsel::tool {

Json JsonFloat(float value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // The shortest decimal of the float, read as a double, prints the same
  // short decimal again.
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double shown = 0.0;
  std::from_chars(text, end, shown);
  return shown;
}

Json JsonDouble(double value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

std::string Fixed(float value, int width, int decimals) {
  return fmt::format("{:{}.{}f}", value, width, decimals);
}

std::string VersionText(int major, int minor, int release) {
  return fmt::format("{}.{}.{}", major, minor, release);
}

Listing& Listing::Section(std::string title) {
  rows_.push_back({true, std::move(title), {}});
  return *this;
}

Listing& Listing::Add(std::string label, std::string value) {
  rows_.push_back({false, std::move(label), std::move(value)});
  return *this;
}

void Listing::Print(std::FILE* out) const {
  std::size_t width = 0;
  for (const Row& row : rows_) {
    if (!row.heading) width = std::max(width, row.label.size());
  }
  for (const Row& row : rows_) {
    if (row.heading) {
      fmt::print(out, "{}\n", row.label);
    } else {
      fmt::print(out, "  {:<{}}  {}\n", row.label, width, row.value);
    }
  }
}

void PrintJson(const Json& value, std::FILE* out) {
  fmt::print(out, "{}\n", value.dump(2));
}

void PrintJsonLine(const Json& value, std::FILE* out) {
  fmt::print(out, "{}\n", value.dump());
  std::fflush(out);
}

ProgressBar::ProgressBar(std::string label, std::FILE* out)
    : label_(std::move(label)), out_(out), terminal_(::isatty(::fileno(out)) == 1) {}

void ProgressBar::Update(int done, int total) {
  if (total <= 0) return;
  done = std::clamp(done, 0, total);
  const int percent = static_cast<int>(100LL * done / total);
  if (terminal_) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(static_cast<long long>(kWidth) * done / total);
    fmt::print(out_, "\r{} [{}{}] {:>{}}/{} pages {:3}%", label_, std::string(filled, '#'),
               std::string(kWidth - filled, ' '), done, fmt::formatted_size("{}", total), total,
               percent);
    drawn_ = true;
  } else {
    const int tenth = percent / 10;
    if (tenth == lastTenth_ && done != total) return;
    if (done == total && lastTenth_ == 10) return;
    lastTenth_ = tenth;
    fmt::print(out_, "{} {}/{} pages {}%\n", label_, done, total, percent);
  }
  std::fflush(out_);
}

void ProgressBar::Finish() {
  if (terminal_ && drawn_) fmt::print(out_, "\n");
  drawn_ = false;
  std::fflush(out_);
}

}  // namespace tarsel::tool
