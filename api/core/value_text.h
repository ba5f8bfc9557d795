// The text forms of the stored blocks' values that plain JSON numbers and
// strings cannot carry, shared by the tool's JSON files and the Python
// records' dictionaries so that both read and write one format:
//   - a float that is not finite: "inf", "-inf", "nan" (the quiet NaN
//     0x7fc00000), "-nan" (0xffc00000), or any other NaN as its bit pattern
//     "0x" + 8 hex digits;
//   - a 20-byte text that is not printable ASCII followed by zeros: its bytes
//     as hex digits (the caller wraps them as {"hex": ...}).
// Header only, beside the record forms; the API library does not use it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace tarsel::text {

inline constexpr std::uint32_t kQuietNan = 0x7fc00000u;
inline constexpr std::uint32_t kNegativeQuietNan = 0xffc00000u;

// What a float's text may be, for messages that refuse another.
inline constexpr const char* kFloatForms =
    "a number, \"inf\", \"-inf\", \"nan\", \"-nan\" or a bit pattern \"0x\" + 8 hex digits";

// Two lowercase hex digits a byte.
inline std::string Hex(const unsigned char* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0f];
  }
  return out;
}

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads exactly n bytes from 2n hex digits; false on anything else.
inline bool ParseHex(std::string_view text, unsigned char* out, std::size_t n) {
  if (text.size() != 2 * n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const int hi = HexDigit(text[2 * i]);
    const int lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return true;
}

// The text of a float that is not finite (a finite one is written as a
// number by the caller).
inline std::string NonFiniteText(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  if (value == std::numeric_limits<float>::infinity()) return "inf";
  if (value == -std::numeric_limits<float>::infinity()) return "-inf";
  if (bits == kQuietNan) return "nan";
  if (bits == kNegativeQuietNan) return "-nan";
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(bits >> 24), static_cast<unsigned char>(bits >> 16),
      static_cast<unsigned char>(bits >> 8), static_cast<unsigned char>(bits)};
  return "0x" + Hex(bytes, 4);
}

// The float a text of NonFiniteText's forms names ("+inf" too); false for
// any other text.
inline bool FloatFromText(std::string_view text, float& value) {
  if (text == "inf" || text == "+inf") {
    value = std::numeric_limits<float>::infinity();
  } else if (text == "-inf") {
    value = -std::numeric_limits<float>::infinity();
  } else if (text == "nan") {
    value = std::bit_cast<float>(kQuietNan);
  } else if (text == "-nan") {
    value = std::bit_cast<float>(kNegativeQuietNan);
  } else {
    unsigned char bytes[4];
    if (text.size() != 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X') ||
        !ParseHex(text.substr(2), bytes, 4)) {
      return false;
    }
    value = std::bit_cast<float>((std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                                 (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]});
  }
  return true;
}

// Whether a fixed-size text is printable ASCII followed only by zeros, the
// form written as a plain string; *length is then the length of that string.
inline bool IsPlainText(const char* text, std::size_t size, std::size_t& length) {
  length = 0;
  while (length < size && text[length] != '\0') {
    if (text[length] < 0x20 || text[length] > 0x7e) return false;
    ++length;
  }
  for (std::size_t i = length; i < size; ++i) {
    if (text[i] != '\0') return false;
  }
  return true;
}

// text as one word for a POSIX shell: as it is when it holds nothing the
// shell would take apart, else in single quotes (a quote inside as '\'').
// For the commands the tool and the simulator print for the user to paste.
inline std::string ShellWord(std::string_view text) {
  const bool plain = !text.empty() &&
                     text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789/._-+:,=@%") == std::string_view::npos;
  if (plain) return std::string(text);
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace tarsel::text
