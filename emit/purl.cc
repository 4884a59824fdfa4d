#include "emit/purl.h"

#include "text/words.h"

namespace {

bool IsAsciiAlnum(unsigned char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

void AppendPercent(unsigned char byte, std::string& out) {
  out += '%';
  AppendHex(byte, out, HexCase::kUpper);
}

// The purl project's canonical form, as its own library writes it: each part percent-encoded as
// JavaScript's encodeURIComponent does (upper-case hex), keeping also the marks in `kept`.
void AppendPurlPart(std::string_view text, std::string_view kept, std::string& out) {
  static constexpr std::string_view kUnreserved = "-_.!~*'()";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = IsAsciiAlnum(byte) || kUnreserved.find(c) != std::string_view::npos ||
                       kept.find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      AppendPercent(byte, out);
    }
  }
}

// A qualifier's value, as URLSearchParams writes it, with a blank as %20.
void AppendQualifierValue(std::string_view text, std::string& out) {
  static constexpr std::string_view kPlain = "*-._";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAsciiAlnum(byte) || kPlain.find(c) != std::string_view::npos) {
      out += c;
    } else {
      AppendPercent(byte, out);
    }
  }
}

// A namespace's segments without empty ones, as the purl library reads them back.
std::string NamespacePath(std::string_view text) {
  std::string path;
  while (!text.empty()) {
    const std::size_t slash = text.find('/');
    const std::string_view segment = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
    if (segment.empty()) continue;
    if (!path.empty()) path += '/';
    path += segment;
  }
  return path;
}

// pkg:TYPE/NAMESPACE/NAME@VERSION, the parts canonical (a name or version as the purl library
// reads it back: without blanks around it); false when the name is empty.
bool AppendPurlHead(std::string_view type, std::string_view namespace_part, std::string_view name,
                    std::string_view version, std::string& purl) {
  name = Trimmed(name);
  version = Trimmed(version);
  if (name.empty()) return false;
  purl = "pkg:" + std::string(type) + "/";
  if (const std::string path = NamespacePath(namespace_part); !path.empty()) {
    AppendPurlPart(path, ":/", purl);
    purl += '/';
  }
  AppendPurlPart(name, {}, purl);
  if (!version.empty()) {
    purl += '@';
    AppendPurlPart(version, ":+", purl);
  }
  return true;
}

// Appends a qualifier; they must come in the order of their keys, as the canonical form has them.
void AppendQualifier(std::string_view key, std::string_view value, std::string& purl) {
  value = Trimmed(value);
  if (value.empty()) return;
  purl += purl.find('?') == std::string::npos ? '?' : '&';
  purl += key;
  purl += '=';
  AppendQualifierValue(value, purl);
}

// One CPE 2.3 formatted-string value.
std::string CpeValue(std::string_view text) {
  if (text.empty()) return "*";
  std::string value;
  for (const char c : Lowered(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsAsciiAlnum(byte) || c == '_' || c == '.' || c == '-') {
      value += c;
    } else if (c == ' ') {
      value += '_';
    } else if (byte > 0x20 && byte < 0x7f) {
      value += '\\';
      value += c;
    } else {
      value += "\\%";
      AppendHex(byte, value);
    }
  }
  return value;
}

}  // namespace

std::string Purl(std::string_view namespace_part, std::string_view name, std::string_view version) {
  std::string purl;
  if (!AppendPurlHead("generic", namespace_part, name, version, purl)) return {};
  return purl;
}

std::string PackagePurl(const PackageIdentity& package) {
  // Debian's names are case-insensitive, RPM's are not; namespaces are lower case in both.
  const bool deb = package.type == PackageIdentity::Type::kDeb;
  std::string purl;
  if (!AppendPurlHead(TypeName(package.type), Lowered(package.vendor),
                      deb ? Lowered(package.name) : package.name, package.version, purl)) {
    return {};
  }
  AppendQualifier("arch", package.architecture, purl);
  AppendQualifier("epoch", package.epoch, purl);
  return purl;
}

std::pair<std::string_view, std::string_view> RepositoryAndTag(std::string_view reference) {
  if (const std::size_t at = reference.find('@'); at != std::string_view::npos) {
    return {reference.substr(0, at), {}};
  }
  const std::size_t colon = reference.rfind(':');
  const std::size_t slash = reference.rfind('/');
  if (colon != std::string_view::npos && (slash == std::string_view::npos || colon > slash)) {
    return {reference.substr(0, colon), reference.substr(colon + 1)};
  }
  return {slash == std::string_view::npos ? std::string_view() : reference, {}};
}

std::string ImagePurl(const ImageIdentity& image) {
  // Registries and the oci type name an image by its manifest's digest, which a saved image
  // does not always hold.
  if (image.manifest.empty()) return {};
  for (const std::string& tag : image.tags) {
    const auto [repository, version_tag] = RepositoryAndTag(tag);
    if (repository.empty()) continue;
    const std::size_t slash = repository.rfind('/');
    std::string purl;
    if (!AppendPurlHead("oci", {}, Lowered(BaseName(repository)), image.manifest, purl)) continue;
    AppendQualifier("arch", image.architecture, purl);
    if (slash != std::string_view::npos) AppendQualifier("repository_url", repository, purl);
    AppendQualifier("tag", version_tag, purl);
    return purl;
  }
  return {};
}

std::string Cpe(std::string_view vendor, std::string_view product, std::string_view version) {
  return "cpe:2.3:a:" + CpeValue(vendor) + ":" + CpeValue(product) + ":" + CpeValue(version) +
         ":*:*:*:*:*:*:*";
}
