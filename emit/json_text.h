// Text in the JSON the tools write. JSON text is UTF-8, so bytes that are not go as an object
// {"bytes": "<base64>"} and nothing is lost; a document is dumped so that no text can make the
// writer fail.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

using Json = nlohmann::ordered_json;

// The bytes in base64 (RFC 4648, with padding); std::runtime_error where libcrypto, which
// encodes them, cannot be loaded.
std::string Base64(std::string_view bytes);

// The bytes as a JSON string when they are UTF-8, else as {"bytes": base64}.
Json JsonText(std::string_view bytes);

// The JSON text of `value`, any text in it that is not UTF-8 written with U+FFFD in its place.
std::string Dumped(const Json& value);
