// The text helpers every tool shares: their rules, case by case.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "text/text_forms.h"
#include "text/version_key.h"
#include "text/words.h"

namespace {

struct Case {
  std::string in, out;
};

TEST(Words, TrimmedDropsOnlyTheBlanksAsked) {
  EXPECT_EQ(Trimmed(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trimmed(" \v\f "), "");
  EXPECT_EQ(Trimmed("\ta\t", " "), "\ta\t");
  EXPECT_EQ(Trimmed("  x  ", " "), "x");
}

TEST(Words, LoweredActsOnAsciiCapitalsOnly) {
  EXPECT_EQ(Lowered("Acme GmbH-2 \xC3\x84"), "acme gmbh-2 \xC3\x84");
}

TEST(Words, BaseNameIsWhatFollowsTheLastSlash) {
  for (const Case& c : std::vector<Case>{{"a/b/c.so", "c.so"}, {"c.so", "c.so"}, {"dir/", ""},
                                         {"/", ""}, {"", ""}}) {
    EXPECT_EQ(BaseName(c.in), c.out) << c.in;
  }
}

TEST(Words, HexInEitherCase) {
  const unsigned char bytes[] = {0x00, 0x0f, 0xa5, 0xff};
  EXPECT_EQ(Hex(bytes), "000fa5ff");
  std::string upper;
  AppendHex(0xab, upper, HexCase::kUpper);
  EXPECT_EQ(upper, "AB");
}

TEST(TextForms, Utf8IsCheckedAsUnicodeDefinesIt) {
  struct Utf8Case {
    std::string bytes;
    bool valid;
  };
  const std::vector<Utf8Case> cases = {
      {"plain", true},          {"\xC3\xA9", true},          {"\xE2\x82\xAC", true},
      {"\xF0\x9F\x98\x80", true}, {"\xC0\xAF", false},         {"\xE0\x80\xAF", false},
      {"\xED\xA0\x80", false},  {"\xF4\x90\x80\x80", false}, {"\x80", false},
      {"\xE2\x82", false},      {"a\xFF", false},            {std::string("a\0b", 3), true}};
  for (const Utf8Case& c : cases) EXPECT_EQ(IsUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(TextForms, EachIllFormedSubpartBecomesOneReplacement) {
  const std::string replacement = "\xEF\xBF\xBD";
  EXPECT_EQ(ValidUtf8("a\xFF" "b"), "a" + replacement + "b");
  EXPECT_EQ(ValidUtf8("\xE2\x82" "x"), replacement + "x");  // a sequence cut short: one
  EXPECT_EQ(ValidUtf8("\xC0\xAF"), replacement + replacement);  // an overlong form: two
  EXPECT_EQ(ValidUtf8("\xC3\xA9"), "\xC3\xA9");
}

TEST(TextForms, TerminalTextEscapesWhatATerminalWouldActOn) {
  const std::vector<Case> cases = {
      {"plain/name", "plain/name"},
      {"back\\slash", "back\\\\slash"},
      {"tab\tnew\nret\r", "tab\\tnew\\nret\\r"},
      {"\x1B]0;title\x07", "\\x1b]0;title\\x07"},
      {"del\x7F", "del\\x7f"},
      {"c1\xC2\x9B" "31m", "c1\\xc2\\x9b31m"},
      {"bad\xFF", "bad\\xff"},
      {"caf\xC3\xA9", "caf\xC3\xA9"}};
  for (const Case& c : cases) EXPECT_EQ(TerminalText(c.in), c.out) << c.in;
}

TEST(VersionKey, KeysOrderAsSortDashVOrdersVersions) {
  // Each version sorts before the next, as sort -V puts them.
  const std::vector<std::string> ordered = {"~1",         "0.9",     "1.2.3", "1.9.2", "1.10",
                                            "1.10a",      "1.10.0",  "1.10.0.rc1",     "2.0~rc1",
                                            "2.0",        "10",      "a1",    "b"};
  for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
    EXPECT_LT(VersionKey(ordered[i]), VersionKey(ordered[i + 1]))
        << ordered[i] << " before " << ordered[i + 1];
  }
  EXPECT_EQ(VersionKey("1.01"), VersionKey("1.1"));
  EXPECT_EQ(VersionKey(""), "");
  const std::string key = VersionKey("1.0 \x01\xFF");
  EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));
}

}  // namespace
