/* The codes a version block holds, with the words the zeblix report prints for them: one list,
 * from which <zeblix/version_block.h> names its constants, the report's translators make their
 * tables and zeblix-block reads the words it is given. C89 and C++98 alike.
 *
 * Each list calls X(code, NAME, "words") once a code, in code order; a release mask ORs the bits
 * of its list, whose words the report prints one after the other. */
#ifndef ZEBLIX_VERSION_CODES_H
#define ZEBLIX_VERSION_CODES_H

#define ZEBLIX_FILE_TYPE_LIST(X) \
  X( 1, EXECUTABLE,                      "Executable") \
  X( 2, DYNAMIC_LINK_LIBRARY,            "Dynamic Link Library") \
  X( 3, STATIC_LINK_LIBRARY,             "Static Link Library") \
  X( 4, DEVICE_DRIVER,                   "Device Driver")

#define ZEBLIX_OS_LIST(X) \
  X( 1, WINDOWS_16BIT,                   "Windows 16-Bit") \
  X( 2, WINDOWS_32BIT,                   "Windows 32-Bit") \
  X( 3, DOS,                             "DOS") \
  X( 4, OS2_16BIT,                       "OS/2 16-Bit") \
  X( 5, OS2_PM_16BIT,                    "OS/2 PM 16-Bit") \
  X( 6, OS2_32BIT,                       "OS/2 32-Bit") \
  X( 7, OS2_PM_32BIT,                    "OS/2 PM 32-Bit") \
  X( 8, MACINTOSH,                       "Macintosh") \
  X( 9, IBM_OS400,                       "IBM OS/400") \
  X(10, HP_HPUX,                         "HP-HPUX") \
  X(11, IBM_AIX,                         "IBM-AIX") \
  X(12, ATT_GIS,                         "AT&T GIS") \
  X(13, DIGITAL_UNIX,                    "Digital UNIX") \
  X(14, SUN_SOLARIS,                     "Sun Solaris") \
  X(15, COMPAQ_TRU64,                    "COMPAQ Tru64") \
  X(16, SINIX_RM,                        "Sinix RM") \
  X(17, SCO_UNIXWARE,                    "SCO Unixware") \
  X(18, IBM_OPEN_EDITION,                "IBM Open Edition") \
  X(19, LINUX_X86,                       "Linux x86") \
  X(20, LINUX_ALPHA_AXP,                 "Linux Alpha/AXP") \
  X(21, IBM_S390_UNIX,                   "IBM S390 Unix") \
  X(22, HP_HPUX10_20,                    "HP-HPUX 10.20") \
  X(23, HP_HPUX11,                       "HP-HPUX 11") \
  X(24, HP_HPUX11_64BIT,                 "HP-HPUX 11 64-Bit") \
  X(25, IBM_AIX4,                        "IBM-AIX 4") \
  X(26, IBM_AIX4_ALTERNATE,              "IBM-AIX 4") \
  X(27, IBM_AIX4_3,                      "IBM-AIX 4.3") \
  X(28, IBM_AIX4_3_64BIT,                "IBM-AIX 4.3 64-Bit") \
  X(29, IBM_AIX4_4,                      "IBM-AIX 4.4") \
  X(30, IBM_AIX4_4_64BIT,                "IBM-AIX 4.4 64-Bit") \
  X(31, SUN_SOLARIS7,                    "Sun Solaris 7") \
  X(32, SUN_SOLARIS7_64BIT,              "Sun Solaris 7 64-Bit") \
  X(33, SUN_SOLARIS8,                    "Sun Solaris 8") \
  X(34, SUN_SOLARIS8_64BIT,              "Sun Solaris 8 64-Bit") \
  X(35, RELIANT_UNIX_64BIT,              "ReliantUNIX 64-Bit") \
  X(36, SCO_UNIXWARE7,                   "SCO Unixware 7") \
  X(37, WINDOWS_64BIT,                   "Windows 64-Bit") \
  X(38, SIEMENS_BS2000,                  "Siemens BS2000") \
  X(39, FUJITSU_ICL_DRS_NX,              "Fujitsu/ICL DRS/NX") \
  X(40, FUJITSU_ICL_DRS_NX_MPLUS,        "Fujitsu/ICL DRS/NX MPlus") \
  X(41, PELORIN_SYSTEM,                  "PELORIN System") \
  X(42, LINUX_S390,                      "Linux S/390") \
  X(43, IBM_AIX5,                        "IBM AIX 5") \
  X(44, IBM_MVS,                         "IBM MVS") \
  X(45, WINDOWS2000,                     "Windows 2000") \
  X(46, WINDOWS_NT_AXP,                  "Windows NT/AXP") \
  X(47, IBM_AIX5_L_5_1_64BIT,            "IBM AIX5L 5.1 64-Bit") \
  X(48, COMPAQ_TRU64_UNIX5,              "COMPAQ Tru64UNIX 5") \
  X(49, LINUX_S390_64BIT,                "Linux S/390 64-Bit") \
  X(50, LINUX_ITANIUM_64BIT,             "Linux Itanium 64-Bit") \
  X(51, SUN_SOLARIS9_64BIT,              "Sun Solaris 9 64-Bit") \
  X(52, WINDOWS_XP_ITANIUM_64BIT,        "Windows XP/Itanium 64-Bit") \
  X(53, IBM_AIX5_L_5_1_32BIT,            "IBM AIX5L 5.1 32-Bit") \
  X(54, LINUX_X86_NG,                    "Linux x86 NG") \
  X(55, LINUX_S390_NG,                   "Linux S/390 NG") \
  X(56, HP_UX11_ITANIUM_64BIT,           "HP-UX 11 Itanium 64-Bit") \
  X(57, IBM_MAINFRAME_VSE,               "IBM Mainframe VSE") \
  X(58, LINUX_X86_64BIT,                 "Linux x86 64Bit") \
  X(59, OPEN_VMS_ALPHA,                  "Open VMS Alpha") \
  X(60, OPEN_VMS_ITANIUM,                "Open VMS Itanium") \
  X(61, SUN_SOLARIS10,                   "Sun Solaris 10") \
  X(62, SUN_SOLARIS9_32BIT,              "Sun Solaris 9 32-Bit") \
  X(63, IBM_MAINFRAME_VM_CMS,            "IBM Mainframe VM/CMS") \
  X(64, LINUX_IA64_NG,                   "Linux IA64 NG") \
  X(65, WINDOWS_VISTA,                   "Windows Vista") \
  X(66, WINDOWS_VISTA_64BIT,             "Windows Vista (64 bit)") \
  X(67, IBM_MAINFRAME_VSE_CICS,          "IBM Mainframe VSE CICS") \
  X(68, SOLARIS10_X86_64BIT,             "Solaris 10 x86 64Bit") \
  X(69, HP_UX11_ITANIUM_32BIT,           "HP-UX 11 Itanium 32-Bit") \
  X(70, WINDOWS_VISUAL_STUDIO2008,       "Windows - Visual Studio 2008") \
  X(71, WINDOWS_VISUAL_STUDIO2008_64BIT, "Windows - Visual Studio 2008 64-Bit") \
  X(72, AIX6_1_64BIT,                    "AIX 6.1 64-Bit") \
  X(73, AIX6_1_32BIT,                    "AIX 6.1 32-Bit") \
  X(74, WINDOWS_VISUAL_STUDIO2012,       "Windows - Visual Studio 2012") \
  X(75, WINDOWS_VISUAL_STUDIO2012_64BIT, "Windows - Visual Studio 2012 64-Bit") \
  X(76, SUN_SOLARIS10_64BIT,             "Sun Solaris 10 64-Bit") \
  X(77, MAC_OS_X,                        "MacOSX") \
  X(78, MAC_OS_X_64BIT,                  "MacOSX 64Bit") \
  X(79, WINDOWS_VISUAL_STUDIO2015,       "Windows - Visual Studio 2015") \
  X(80, WINDOWS_VISUAL_STUDIO2015_64BIT, "Windows - Visual Studio 2015 64-Bit")

/* Only the first three words end with a blank: the others have always run together. */
#define ZEBLIX_RELEASE_LIST(X) \
  X(0x01, DEBUG,             "Debug ") \
  X(0x02, ALPHA,             "Alpha ") \
  X(0x04, BETA,              "Beta ") \
  X(0x08, RELEASE,           "Release") \
  X(0x10, DEMO,              "Demo") \
  X(0x20, CUSTOMER_SPECIFIC, "Customer specific") \
  X(0x40, UPDATE,            "Update")

#endif /* ZEBLIX_VERSION_CODES_H */
