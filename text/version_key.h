// A version as a text that orders as GNU sort -V orders versions (coreutils' filevercmp): runs of
// digits by their numbers, other characters letters first, '~' before everything, even the end,
// and a file-name suffix such as ".tar.gz" or ".rc1" weighed only when the rest is equal. Two
// keys compare as plain text (jq's <, sqlite3's <, sort without -V) as their versions compare as
// versions; versions equal as versions ("1.01" and "1.1") have equal keys.
#pragma once

#include <string>
#include <string_view>

// The key of `version`; empty for an empty version. Printable ASCII throughout.
std::string VersionKey(std::string_view version);
