// Base64 from OpenSSL's libcrypto.
#include "emit/json_text.h"

#include <openssl/evp.h>

#include <stdexcept>

#include "text/text_forms.h"

std::string Base64(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');  // with room for the NUL it adds
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  // Nothing comes back only where libcrypto could not be loaded: no line goes without its bytes.
  if (written == 0 && !bytes.empty()) throw std::runtime_error("libcrypto could not be loaded");
  text.resize(static_cast<std::size_t>(written));
  return text;
}

Json JsonText(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  return Json{
      {"bytes", Base64(bytes)}
  };
}

std::string Dumped(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}
