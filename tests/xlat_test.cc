// The translators, in both byte orders, over every table row and the edge values.
#include <gtest/gtest.h>

#include <string>

#include "scan/version_info.h"
#include "xlat/code_tables.h"
#include "xlat/translators.h"

namespace {

TEST(Swap, ExchangesTheTwoBytes) {
  EXPECT_EQ(SWAP2(0x3A00), 0x003A);
  EXPECT_EQ(SWAP2(0x1234), 0x3412);
  EXPECT_EQ(SWAP2(0xFF00), 0x00FF);
}

TEST(Translators, GiveTheTextOfEachValue) {
  enum Which { kPatch, kFile, kOs, kRelease };
  const struct {
    Which which;
    std::int32_t byte_order;
    std::uint16_t value;
    const char* text;
  } cases[] = {
      {  kPatch, 1,      0,                                                   "0"},
      {  kPatch, 1,     12,                                                  "12"},
      {  kPatch, 1, 0xFFFF,                                             "not set"},
      {  kPatch, 1, 0x7FFF,                                               "32767"},
      {  kPatch, 1, 0x8000,                                             "not set"},
      {  kPatch, 2, 0x0100,                                                   "1"},
      {  kPatch, 2, 0x0080,                                             "not set"},
      {  kPatch, 0, 0x0100,                                                 "256"},
      {   kFile, 1,      0,                               "Unknown file type (0)"},
      {   kFile, 1,      4,                                       "Device Driver"},
      {   kFile, 1,      5,                               "Unknown file type (5)"},
      {   kFile, 1, 0xFFFF,                           "Unknown file type (65535)"},
      {   kFile, 2, 0x0300,                                 "Static Link Library"},
      {     kOs, 1,      0,                        "Unknown operating system (0)"},
      {     kOs, 1,     41,                                      "PELORIN System"},
      {     kOs, 1,     58,                                     "Linux x86 64Bit"},
      {     kOs, 1,     81,                       "Unknown operating system (81)"},
      {     kOs, 2, 0x3A00,                                     "Linux x86 64Bit"},
      {     kOs, 1, 0x3A00,                    "Unknown operating system (14848)"},
      {     kOs, 2, 0x0100,                                      "Windows 16-Bit"},
      {kRelease, 1,   0x18,                                         "ReleaseDemo"},
      {kRelease, 1,   0x0C,                                        "Beta Release"},
      {kRelease, 1,   0x7F, "Debug Alpha Beta ReleaseDemoCustomer specificUpdate"},
      {kRelease, 1, 0xFFFF, "Debug Alpha Beta ReleaseDemoCustomer specificUpdate"},
      {kRelease, 1,   0x80,                                                    ""},
      {kRelease, 1,      0,                                                    ""},
      {kRelease, 2, 0x0800,                                             "Release"},
      {kRelease, 1, 0x6500,                                                    ""},
      {kRelease, 2, 0x6500,                  "Debug Beta Customer specificUpdate"},
  };
  for (const auto& c : cases) {
    SavedVersionID = c.byte_order;
    std::string text;
    switch (c.which) {
      case kPatch:
        text = XlatPatchLevel(static_cast<std::int16_t>(c.value));
        break;
      case kFile:
        text = XlatFileType(c.value);
        break;
      case kOs:
        text = XlatOS(c.value);
        break;
      case kRelease:
        text = XlatRelease(c.value);
        break;
    }
    EXPECT_EQ(text, c.text) << "translator " << c.which << " byte order " << c.byte_order
                            << " value 0x" << std::hex << c.value;
  }
}

TEST(Translators, KnowEveryTableRowInEitherByteOrder) {
  for (std::uint16_t code = 1; code < OSTypes.size(); ++code) {
    SavedVersionID = 1;
    EXPECT_STREQ(XlatOS(code), OSTypes[code].text) << code;
    SavedVersionID = 2;
    EXPECT_STREQ(XlatOS(SWAP2(code)), OSTypes[code].text) << code;
  }
  for (std::uint16_t code = 1; code < FileTypes.size(); ++code) {
    SavedVersionID = 1;
    EXPECT_STREQ(XlatFileType(code), FileTypes[code].text) << code;
  }
  EXPECT_STREQ(OSTypes[25].text, OSTypes[26].text);
  SavedVersionID = 0;
}

}  // namespace
