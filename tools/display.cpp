#include "display.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include <fmt/core.h>

#include "core/value_text.h"

namespace tarsel::tool {

std::string NumberText(float value) {
  if (!std::isfinite(value)) return text::NonFiniteText(value);
  return fmt::format("{}", value);
}

std::string NumberText(double value) {
  if (std::isfinite(value)) return fmt::format("{}", value);
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (bits == 0x7ff8000000000000u) return "nan";
  if (bits == 0xfff8000000000000u) return "-nan";
  return fmt::format("0x{:016x}", bits);
}

Json JsonFloat(float value) {
  if (!std::isfinite(value)) return text::NonFiniteText(value);
  // The shortest decimal of the float, read as a double, prints the same
  // short decimal again.
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double shown = 0.0;
  std::from_chars(text, end, shown);
  return shown;
}

Json JsonDouble(double value) {
  if (!std::isfinite(value)) return NumberText(value);
  return value;
}

std::string Fixed(float value, int width, int decimals) {
  if (!std::isfinite(value)) return fmt::format("{:>{}}", NumberText(value), width);
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

Listing& Listing::AddScalars(const std::vector<FieldText>& fields, std::size_t perLine) {
  // "Value12" is the stem "Value" and the number 12.
  const auto split = [](const std::string& name) {
    const std::size_t digits = name.find_last_not_of("0123456789") + 1;
    const int number = digits < name.size() ? std::stoi(name.substr(digits)) : -1;
    return std::pair{name.substr(0, digits), number};
  };
  for (std::size_t i = 0; i < fields.size();) {
    if (!fields[i].scalar) {
      ++i;
      continue;
    }
    const auto [stem, first] = split(fields[i].name);
    std::string values = fields[i].text;
    std::size_t n = 1;
    while (first >= 0 && n < perLine && i + n < fields.size() && fields[i + n].scalar &&
           split(fields[i + n].name) == std::pair{stem, first + static_cast<int>(n)}) {
      values += "  " + fields[i + n].text;
      ++n;
    }
    Add(n == 1 ? fields[i].name : fmt::format("{}{}-{}", stem, first, first + n - 1), values);
    i += n;
  }
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
