// The SVRLOG parse and the rule that selects a message.
#include <gtest/gtest.h>

#include <cstdint>

#include "log/svr_log.h"

namespace {

constexpr std::uint64_t kAllBits = ~std::uint64_t{0};

TEST(SvrLogParse, ReadsLikeStrtoulWithBaseZero) {
  const struct {
    const char* text;
    std::uint64_t value;
  } cases[] = {
      {                "0x102",        0x102},
      {               "0X1002",       0x1002},
      {                  "258",          258},
      {                  "010",            8},
      {                   "08",            0}, // octal stops at the 8
      {                     "",            0},
      {            "   \t0x20",         0x20},
      {                   "+7",            7},
      {                   "-1",     kAllBits},
      {                 "-0x2", kAllBits - 1},
      {                   "0x",            0},
      {                  "xyz",            0},
      {                "12abc",           12},
      {           "0xffffffff",   0xffffffff},
      {          "0x1ffffffff",  0x1ffffffff},
      { "18446744073709551615",     kAllBits},
      { "18446744073709551616",     kAllBits},
      {  "0x123456789abcdef01",     kAllBits},
      {"-99999999999999999999",     kAllBits},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(svr_parse_logint(c.text), c.value) << '"' << c.text << '"';
  }
}

TEST(SvrLogSelection, NeedsBothALevelAndAComponentBit) {
  const struct {
    std::uint32_t mask;
    std::uint64_t logint;
    bool selected;
  } cases[] = {
      {  0x102,      0x102,  true},
      {  0x102,      0x101, false},
      {  0x101,      0x102, false},
      {  0x102,      0x202, false},
      {  0x102,      0x300, false},
      {  0x102,          3, false},
      {  0x401,      0x401,  true},
      {  0x402,      0x401, false},
      {  0x401,      0x403,  true},
      {0x20002,    0xA0202,  true},
      {0x80002,    0x20202, false},
      {0x10001,    0x10203,  true},
      { 0x1002,   kAllBits,  true},
      {  0x102,          0, false},
      {0x40001, 0xFFFFFFFF,  true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(svr_mask_selected(c.mask, c.logint), c.selected)
        << std::hex << "mask 0x" << c.mask << " SVRLOG 0x" << c.logint;
  }
}

}  // namespace
