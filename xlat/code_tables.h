// The vocabulary of the report: file types and operating systems, indexed by their codes. Row 0
// of each table is the text used for a code the table does not know.
#pragma once

#include <array>
#include <cstdint>

struct CodeText {
  std::uint16_t code;
  const char* text;
};

#define ZEBLIX_UNKNOWN_FILE_TYPE "Unknown file type (%d)"
#define ZEBLIX_UNKNOWN_OS "Unknown operating system (%d)"

// clang-format off
inline constexpr std::array<CodeText, 5> FileTypes = {{
    {0, ZEBLIX_UNKNOWN_FILE_TYPE},
    {1, "Executable"},
    {2, "Dynamic Link Library"},
    {3, "Static Link Library"},
    {4, "Device Driver"},
}};

inline constexpr std::array<CodeText, 81> OSTypes = {{
    { 0, ZEBLIX_UNKNOWN_OS},
    { 1, "Windows 16-Bit"},
    { 2, "Windows 32-Bit"},
    { 3, "DOS"},
    { 4, "OS/2 16-Bit"},
    { 5, "OS/2 PM 16-Bit"},
    { 6, "OS/2 32-Bit"},
    { 7, "OS/2 PM 32-Bit"},
    { 8, "Macintosh"},
    { 9, "IBM OS/400"},
    {10, "HP-HPUX"},
    {11, "IBM-AIX"},
    {12, "AT&T GIS"},
    {13, "Digital UNIX"},
    {14, "Sun Solaris"},
    {15, "COMPAQ Tru64"},
    {16, "Sinix RM"},
    {17, "SCO Unixware"},
    {18, "IBM Open Edition"},
    {19, "Linux x86"},
    {20, "Linux Alpha/AXP"},
    {21, "IBM S390 Unix"},
    {22, "HP-HPUX 10.20"},
    {23, "HP-HPUX 11"},
    {24, "HP-HPUX 11 64-Bit"},
    {25, "IBM-AIX 4"},
    {26, "IBM-AIX 4"},
    {27, "IBM-AIX 4.3"},
    {28, "IBM-AIX 4.3 64-Bit"},
    {29, "IBM-AIX 4.4"},
    {30, "IBM-AIX 4.4 64-Bit"},
    {31, "Sun Solaris 7"},
    {32, "Sun Solaris 7 64-Bit"},
    {33, "Sun Solaris 8"},
    {34, "Sun Solaris 8 64-Bit"},
    {35, "ReliantUNIX 64-Bit"},
    {36, "SCO Unixware 7"},
    {37, "Windows 64-Bit"},
    {38, "Siemens BS2000"},
    {39, "Fujitsu/ICL DRS/NX"},
    {40, "Fujitsu/ICL DRS/NX MPlus"},
    {41, "PELORIN System"},
    {42, "Linux S/390"},
    {43, "IBM AIX 5"},
    {44, "IBM MVS"},
    {45, "Windows 2000"},
    {46, "Windows NT/AXP"},
    {47, "IBM AIX5L 5.1 64-Bit"},
    {48, "COMPAQ Tru64UNIX 5"},
    {49, "Linux S/390 64-Bit"},
    {50, "Linux Itanium 64-Bit"},
    {51, "Sun Solaris 9 64-Bit"},
    {52, "Windows XP/Itanium 64-Bit"},
    {53, "IBM AIX5L 5.1 32-Bit"},
    {54, "Linux x86 NG"},
    {55, "Linux S/390 NG"},
    {56, "HP-UX 11 Itanium 64-Bit"},
    {57, "IBM Mainframe VSE"},
    {58, "Linux x86 64Bit"},
    {59, "Open VMS Alpha"},
    {60, "Open VMS Itanium"},
    {61, "Sun Solaris 10"},
    {62, "Sun Solaris 9 32-Bit"},
    {63, "IBM Mainframe VM/CMS"},
    {64, "Linux IA64 NG"},
    {65, "Windows Vista"},
    {66, "Windows Vista (64 bit)"},
    {67, "IBM Mainframe VSE CICS"},
    {68, "Solaris 10 x86 64Bit"},
    {69, "HP-UX 11 Itanium 32-Bit"},
    {70, "Windows - Visual Studio 2008"},
    {71, "Windows - Visual Studio 2008 64-Bit"},
    {72, "AIX 6.1 64-Bit"},
    {73, "AIX 6.1 32-Bit"},
    {74, "Windows - Visual Studio 2012"},
    {75, "Windows - Visual Studio 2012 64-Bit"},
    {76, "Sun Solaris 10 64-Bit"},
    {77, "MacOSX"},
    {78, "MacOSX 64Bit"},
    {79, "Windows - Visual Studio 2015"},
    {80, "Windows - Visual Studio 2015 64-Bit"},
}};
// clang-format on

// Each table is indexed by the code itself.
template <std::size_t N>
constexpr bool RowsAreIndexedByCode(const std::array<CodeText, N>& table) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].code != i) return false;
  }
  return true;
}
static_assert(RowsAreIndexedByCode(FileTypes));
static_assert(RowsAreIndexedByCode(OSTypes));
