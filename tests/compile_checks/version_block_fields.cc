// Compiled once per case by compile_check.cmake: only the case without a fault may compile.
#include <zeblix/version_block.h>

#include <string_view>

#if defined(ZEBLIX_CASE_TOO_LONG)  // 41 characters in a 40-byte field
constexpr std::string_view kCompany = "Company text of forty-one characters, 41!";
#elif defined(ZEBLIX_CASE_DELIMITER)
constexpr std::string_view kCompany = "ZEBLIXQuorvantisXZEBLIXzeblixQuorvantis";
#elif defined(ZEBLIX_CASE_DOLLAR)
constexpr std::string_view kCompany = "Ac$me";
#elif defined(ZEBLIX_CASE_HIDES_DELIMITER)  // full width, ending in the delimiter's first 17
constexpr std::string_view kCompany = "23 characters of text. ZEBLIXQuorvantisX";
#else  // exactly 40 characters
constexpr std::string_view kCompany = "Company text of exactly forty characters";
#endif

[[gnu::used]] extern const zeblix::VersionBlock kBlock = zeblix::MakeVersionBlock({
    .company = kCompany,
    .build_number = "12$34",
});
