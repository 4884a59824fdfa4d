// The lines zeblix-inventory writes: one per record, or one for a path that could not be read,
// as JSON Lines or as RFC 4180 CSV with the same columns.
//
// JSON text is UTF-8, so a text field (or a path) whose bytes are not valid UTF-8 is written as
// an object {"bytes": "<base64 of the bytes>"} instead of a string; nothing is lost and every line
// stays valid JSON. CSV carries every field's bytes as they are.
#pragma once

#include <string>
#include <string_view>

#include "zeblix/scan.h"

enum class OutputFormat { kJsonLines, kCsv };

// The header row of the CSV output; JSON Lines has none.
std::string CsvHeader();

// Appends the line of one record found in the file at `path` on the machine `host`.
void AppendRecordLine(OutputFormat format, const zeblix::Record& record, std::string_view path,
                      std::string_view host, std::string& out);

// Appends the line of a path that could not be read, with its errno.
void AppendErrorLine(OutputFormat format, std::string_view path, std::string_view host, int error,
                     std::string& out);

// The bytes in base64 (RFC 4648, with padding).
std::string Base64(std::string_view bytes);
