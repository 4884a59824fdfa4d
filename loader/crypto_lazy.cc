// OpenSSL's libcrypto, loaded when first needed: for --hash, --cache, or a text that is not UTF-8
// (its bytes go as base64).
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <type_traits>

#include "loader/lazy_library.h"

// clang-format off
#define ZEBLIX_CRYPTO(X) \
  X(int, EVP_DigestFinal_ex, (EVP_MD_CTX* p0, unsigned char* p1, unsigned int* p2), (p0, p1, p2)) \
  X(int, EVP_DigestInit_ex2, (EVP_MD_CTX* p0, const EVP_MD* p1, const OSSL_PARAM p2[]), \
    (p0, p1, p2)) \
  X(int, EVP_DigestUpdate, (EVP_MD_CTX* p0, const void* p1, size_t p2), (p0, p1, p2)) \
  X(int, EVP_EncodeBlock, (unsigned char* p0, const unsigned char* p1, int p2), (p0, p1, p2)) \
  X(void, EVP_MD_CTX_free, (EVP_MD_CTX* p0), (p0)) \
  X(EVP_MD_CTX*, EVP_MD_CTX_new, (void), ()) \
  X(EVP_MD*, EVP_MD_fetch, (OSSL_LIB_CTX* p0, const char* p1, const char* p2), (p0, p1, p2)) \
  X(void, EVP_MD_free, (EVP_MD* p0), (p0)) \
  X(int, OPENSSL_init_crypto, (uint64_t p0, const OPENSSL_INIT_SETTINGS* p1), (p0, p1))
// clang-format on

namespace {

// What a function gives when libcrypto cannot be loaded: nothing fetched, nothing encoded.
template <typename Result>
Result Unloaded() {
  if constexpr (!std::is_void_v<Result>) return static_cast<Result>(0);
}

}  // namespace

ZEBLIX_LAZY_LIBRARY("libcrypto.so.3", ZEBLIX_CRYPTO)
