// Names the user may have misspelt: commands, keys of a JSON file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarsel::tool {

// Edits (insertions, deletions, substitutions, swaps of neighbours) that turn
// a into b, letters compared without case.
std::size_t EditDistance(const std::string& a, const std::string& b);

// The name closest to word: at most one edit away for words of up to four
// letters, two for longer ones. Empty when none is that close.
std::string ClosestName(const std::string& word, const std::vector<std::string>& names);

}  // namespace tarsel::tool
