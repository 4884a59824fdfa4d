// Options are read with getopt_long; words are looked up in the one list of codes and words the
// report's translators use, so that a word the report prints is a word zeblix-block takes.
#include "block/block_request.h"

#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "text/text_forms.h"
#include "text/words.h"
#include "zeblix/byte_order.h"

const char* const kBlockUsage = R"(Usage: zeblix-block [OPTION]...
Write a zeblix version block for a product's build: C source (for any C or C++
compiler, with <zeblix/version_block.h>), assembler (GNU as and Clang, ELF), or
the raw 1244 bytes (for objcopy, .incbin, ld -r -b binary, include_bytes!, embed).

      --company=TEXT          up to 40 bytes
      --description=TEXT      up to 40 bytes
      --product-version=TEXT  up to 20 bytes
      --internal-name=TEXT    up to 40 bytes
      --copyright=TEXT        up to 512 bytes
      --product-name=TEXT     up to 40 bytes
      --build-number=TEXT     up to 20 bytes
      --patch-level=N         -32768 to 32767, or "not set" (default 0)
      --release=WORDS         the report's words, comma-separated (Debug, Alpha, Beta,
                              Release, Demo, Customer specific, Update), or a number
      --file-os=WORDS         the report's words ("Linux x86 64Bit"), or a number
                              (default 58, Linux x86 64Bit)
      --file-type=WORDS       Executable, Dynamic Link Library, Static Link Library,
                              Device Driver, or a number (default 1)
      --format=FORMAT         c (the default), asm or raw
      --byte-order=ORDER      of raw bytes: little, big or native (the default); C
                              and assembler take the target's
      --symbol=NAME           the block's symbol (default zeblix_version_block)
  -o, --output=FILE           write to FILE, not standard output
  -h, --help                  show this help and exit
  -V, --version               show the version and exit

A text may not hold a dollar sign (zeblix cuts the text there; the build number
is not cut) nor the delimiter text, nor end so that it hides the delimiter after
it. Exit status: 0 when written, 1 when the output cannot be written, 2 for a
refused option.
)";

namespace {

struct Word {
  std::uint16_t code;
  std::string_view words;
};

#define ZEBLIX_WORD_(code, name, text) {code, text},
constexpr Word kOsWords[] = {ZEBLIX_OS_LIST(ZEBLIX_WORD_)};
constexpr Word kFileTypeWords[] = {ZEBLIX_FILE_TYPE_LIST(ZEBLIX_WORD_)};
constexpr Word kReleaseWords[] = {ZEBLIX_RELEASE_LIST(ZEBLIX_WORD_)};
#undef ZEBLIX_WORD_

// Words are matched without the spaces around them.
constexpr std::string_view kSpaces = " ";

// A whole number from `low` to `high`, decimal (leading zeros and all) or 0x hexadecimal.
bool ParseNumber(std::string_view text, long low, long high, long& value) {
  const std::string copy(text);
  const bool hex = copy.starts_with("0x") || copy.starts_with("0X");
  const char* digits = copy.c_str() + (hex ? 2 : 0);
  char* end = nullptr;
  errno = 0;
  value = std::strtol(digits, &end, hex ? 16 : 10);
  return *digits != '\0' && *end == '\0' && errno == 0 && value >= low && value <= high &&
         !(hex && (*digits == '-' || *digits == '+'));
}

// A code given as the report's words (blanks around them aside) or as a number.
template <std::size_t N>
bool ParseCode(std::string_view text, const Word (&words)[N], std::uint16_t& code) {
  for (const Word& word : words) {
    if (Trimmed(word.words, kSpaces) == Trimmed(text, kSpaces)) {
      code = word.code;
      return true;
    }
  }
  long number = 0;
  if (!ParseNumber(text, 0, 0xFFFF, number)) return false;
  code = static_cast<std::uint16_t>(number);
  return true;
}

bool ParseRelease(std::string_view text, std::uint16_t& mask) {
  long number = 0;
  if (ParseNumber(text, 0, 0xFFFF, number)) {
    mask = static_cast<std::uint16_t>(number);
    return true;
  }
  mask = 0;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::uint16_t bit = 0;
    if (!ParseCode(text.substr(0, comma), kReleaseWords, bit) || bit == 0) return false;
    mask |= bit;
    text = comma == text.npos ? std::string_view() : text.substr(comma + 1);
  }
  return true;
}

bool IsIdentifier(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// What is wrong with a text as the reader would read it, or nothing.
std::string TextFault(const TextField& field, std::string_view text) {
  if (text.size() > field.slot.width) {
    return "is " + std::to_string(text.size()) + " bytes, longer than its field of " +
           std::to_string(field.slot.width);
  }
  if (text.find(zeblix::kDelimiterText) != text.npos) return "holds the delimiter text";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", byte);
      return std::string("holds a control character (") + code + " at byte " +
             std::to_string(i) +
             (byte == '\r' ? ": a CR, as a file written on Windows ends its lines)" : ")");
    }
  }
  if (field.cut_at_dollar && text.find('$') != text.npos) {
    return "holds a dollar sign, where zeblix cuts the text";
  }
  return {};
}

enum LongOnly {
  kTextOptions = 256,  // one for each text field, in order
  kPatchLevel = kTextOptions + static_cast<int>(kTextFields.size()),
  kRelease,
  kFileOs,
  kFileType,
  kFormat,
  kByteOrder,
  kSymbol,
};

std::vector<option> LongOptions() {
  std::vector<option> options;
  for (std::size_t i = 0; i < kTextFields.size(); ++i) {
    options.push_back(
        {kTextFields[i].option, required_argument, nullptr, kTextOptions + static_cast<int>(i)});
  }
  const option others[] = {
      {"patch-level", required_argument, nullptr, kPatchLevel},
      {    "release", required_argument, nullptr,    kRelease},
      {    "file-os", required_argument, nullptr,     kFileOs},
      {  "file-type", required_argument, nullptr,   kFileType},
      {     "format", required_argument, nullptr,     kFormat},
      { "byte-order", required_argument, nullptr,  kByteOrder},
      {     "symbol", required_argument, nullptr,     kSymbol},
      {     "output", required_argument, nullptr,         'o'},
      {       "help",       no_argument, nullptr,         'h'},
      {    "version",       no_argument, nullptr,         'V'},
      {      nullptr,                 0, nullptr,           0},
  };
  options.insert(options.end(), std::begin(others), std::end(others));
  return options;
}

// Takes one option's value into the request; false with a message when it is refused.
bool Take(int option, const char* value, BlockRequest& request, std::string& message) {
  const auto refuse = [&](const char* name, const std::string& why) {
    message = std::string("--") + name + ": '" + TerminalText(value) + "' " + why;
    return false;
  };
  long number = 0;
  switch (option) {
    case kPatchLevel:
      if (Trimmed(value, kSpaces) == "not set") {
        request.patch_level = -1;
      } else if (!ParseNumber(value, -32768, 32767, number)) {
        return refuse("patch-level", "is not a number from -32768 to 32767, nor \"not set\"");
      } else {
        request.patch_level = static_cast<std::int16_t>(number);
      }
      return true;
    case kRelease:
      return ParseRelease(value, request.release_mask) ||
             refuse("release", "is neither release words nor a number from 0 to 65535");
    case kFileOs:
      return ParseCode(value, kOsWords, request.file_os) ||
             refuse("file-os",
                    "is neither an operating system the report names nor a number "
                    "from 0 to 65535");
    case kFileType:
      return ParseCode(value, kFileTypeWords, request.file_type) ||
             refuse("file-type",
                    "is neither a file type the report names nor a number from 0 "
                    "to 65535");
    case kFormat:
      if (std::strcmp(value, "c") == 0) return request.format = BlockFormat::kC, true;
      if (std::strcmp(value, "asm") == 0) return request.format = BlockFormat::kAsm, true;
      if (std::strcmp(value, "raw") == 0) return request.format = BlockFormat::kRaw, true;
      return refuse("format", "is none of c, asm and raw");
    case kByteOrder:
      request.byte_order_given = true;
      if (std::strcmp(value, "little") == 0) return request.byte_order = std::endian::little, true;
      if (std::strcmp(value, "big") == 0) return request.byte_order = std::endian::big, true;
      if (std::strcmp(value, "native") == 0) return request.byte_order = std::endian::native, true;
      return refuse("byte-order", "is none of little, big and native");
    case kSymbol:
      request.symbol = value;
      return IsIdentifier(value) || refuse("symbol", "is not a C identifier");
    case 'o':
      request.output = value;
      return true;
    default: {
      const TextField& field = kTextFields[static_cast<std::size_t>(option - kTextOptions)];
      request.texts[static_cast<std::size_t>(option - kTextOptions)] = value;
      const std::string fault = TextFault(field, value);
      return fault.empty() || refuse(field.option, fault);
    }
  }
}

// A text whose last bytes and the delimiter after it would read as the start of a delimiter
// found later: the reader would take more than the field.
std::string HiddenDelimiter(const BlockRequest& request) {
  const zeblix::VersionBlock block = LayOutBlock(request, std::endian::native);
  for (const TextField& field : kTextFields) {
    const long found =
        zeblix::detail::FindClosingDelimiter(block, field.slot.offset, field.slot.width);
    if (found != static_cast<long>(field.slot.offset + field.slot.width)) {
      return std::string("--") + field.option + ": its last bytes hide the delimiter after it";
    }
  }
  return {};
}

// An option whose value was the next argument, and that argument is itself an option: the value
// was forgotten (--company --product-name=widget). Given joined (--company=--x), it is the text.
bool TakesOption(char** argv, int next, const char* value, const std::vector<option>& options,
                 std::string& message) {
  if (value == nullptr || value != argv[next - 1] || value[0] != '-') return false;
  const std::string_view text(value);
  bool known = text == "-o" || text == "-h" || text == "-V";
  for (const option& long_option : options) {
    if (long_option.name == nullptr || !text.starts_with("--")) continue;
    const std::string_view name = text.substr(2, text.find('=') - 2);
    known = known || name == long_option.name;
  }
  if (!known) return false;
  message = std::string(argv[next - 2]) + ": its value would be the option '" +
            TerminalText(value) + "'; give a text that begins so as " + argv[next - 2] + "=" +
            TerminalText(value);
  return true;
}

}  // namespace

RequestOutcome ParseBlockRequest(int argc, char** argv, BlockRequest& request,
                                 std::string& message) {
  const std::vector<option> options = LongOptions();
  opterr = 0;
  optind = 1;
  for (;;) {
    const int option = getopt_long(argc, argv, ":o:hV", options.data(), nullptr);
    if (option == -1) break;
    if (option == 'h') return RequestOutcome::kHelp;
    if (option == 'V') return RequestOutcome::kVersion;
    if (option == ':') {
      message = "option '" + TerminalText(argv[optind - 1]) + "' needs a value";
      return RequestOutcome::kRefused;
    }
    if (option == '?') {
      message = "unknown option '" + TerminalText(argv[optind - 1]) + "'";
      return RequestOutcome::kRefused;
    }
    if (TakesOption(argv, optind, optarg, options, message) ||
        !Take(option, optarg, request, message)) {
      return RequestOutcome::kRefused;
    }
  }
  if (request.byte_order_given && request.format != BlockFormat::kRaw) {
    message = "--byte-order: only raw bytes are written in an order asked for; C and assembler "
              "take the target's";
    return RequestOutcome::kRefused;
  }
  if (optind < argc) {
    message = "'" + TerminalText(argv[optind]) + "' is no option; texts are given as --company=TEXT";
    return RequestOutcome::kRefused;
  }
  message = HiddenDelimiter(request);
  return message.empty() ? RequestOutcome::kWrite : RequestOutcome::kRefused;
}

zeblix::VersionBlock LayOutBlock(const BlockRequest& request, std::endian order) {
  zeblix::VersionBlock block{};
  const auto place = [&](std::size_t at, std::string_view bytes) {
    std::memcpy(block.data() + at, bytes.data(), bytes.size());
  };
  place(0, zeblix::kEyeCatchHead);
  place(zeblix::kEyeCatchHead.size(), zeblix::kEyeCatchTail);
  for (const zeblix::FieldSlot& slot : zeblix::kFieldSlots) {
    place(slot.offset + slot.width, zeblix::kDelimiterText);
  }
  for (std::size_t i = 0; i < kTextFields.size(); ++i) {
    place(kTextFields[i].slot.offset, request.texts[i]);
  }
  const auto store = [&](zeblix::FieldSlot slot, auto value) {
    zeblix::StoreInOrder(block.data() + slot.offset, value, order);
  };
  store(zeblix::kInternalIdSlot, zeblix::kInternalId);
  store(zeblix::kPatchLevelSlot, static_cast<std::uint16_t>(request.patch_level));
  store(zeblix::kReleaseMaskSlot, request.release_mask);
  store(zeblix::kFileOsSlot, request.file_os);
  store(zeblix::kFileTypeSlot, request.file_type);
  return block;
}
