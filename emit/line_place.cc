#include "emit/line_place.h"

#include <system_error>

#include "text/text_forms.h"

namespace {

void AppendName(std::string_view name, std::string& out) {
  for (const char c : name) {
    if (c == '!') out += '!';
    out += c;
  }
}

}  // namespace

std::string_view LinePlace::layer_digest() const {
  if (image == nullptr || layer < 0) return {};
  const auto& digests = image->layer_digests;
  return static_cast<std::size_t>(layer) < digests.size() ? digests[layer] : std::string_view();
}

std::string JoinNames(MemberNames names) {
  std::string joined;
  for (const std::string& name : names) {
    if (&name != names.data()) joined += kMemberSeparator;
    AppendName(name, joined);
  }
  return joined;
}

std::string Location(std::string_view path, MemberNames member) {
  std::string location;
  AppendName(path, location);
  for (const std::string& name : member) {
    location += kMemberSeparator;
    AppendName(name, location);
  }
  return location;
}

std::string ErrorText(int error, std::string_view message) {
  return message.empty() ? std::generic_category().message(error) : std::string(message);
}

void AppendErrorMessage(const LinePlace& place, int error, std::string_view message,
                        std::string& out) {
  out += "zeblix-inventory: ";
  out += TerminalText(Location(place.path, place.member));
  out += ": ";
  out += TerminalText(ErrorText(error, message));
  out += '\n';
}
