// Expansion of a data-file argument that still holds '*' or '?'.
#pragma once

#include <string>
#include <vector>

namespace kmeans {

// Matches `name` against `pattern` ('*' any run, '?' one character), ASCII
// letters compared without regard to case.
bool wildcard_match(const char* pattern, const char* name);

// The entries of the pattern's directory that match its last component, in
// the order the directory listing gives them, each prefixed with the
// pattern's directory part. Directories and hidden entries (names starting
// with '.') are left out. A pattern that matches no entry at all comes back
// unchanged; one whose only matches were left out gives an empty list.
std::vector<std::string> expand_pattern(const std::string& pattern);

}  // namespace kmeans
