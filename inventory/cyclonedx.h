// zeblix-inventory's records as one CycloneDX 1.6 JSON document, for the tools that watch
// software inventories for vulnerabilities and licences. The document is written as the walk goes:
// a head, one component a line, a tail; nothing of it is held in memory.
//
// Standard fields must be Unicode, so text whose bytes are not UTF-8 goes into them with U+FFFD in
// place of each bad sequence, and exactly, as base64, into a "zeblix:...:base64" property.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/identity.h"
#include "inventory/record_lines.h"
#include "text/text_forms.h"
#include "zeblix/scan.h"

// pkg:generic/NAMESPACE/NAME@VERSION in the purl project's canonical form (what its library's
// toString gives for it: parts percent-encoded as encodeURIComponent does, ':' and '+' kept in a
// version, blanks around a name or version dropped); an empty namespace or version is left out;
// empty when the name is.
std::string Purl(std::string_view namespace_part, std::string_view name, std::string_view version);

// The purl of a package, as the purl types deb and rpm ask: the vendor as namespace (none when
// the package names no vendor we can write), the architecture (and an RPM's epoch) as qualifiers.
std::string PackagePurl(const PackageIdentity& package);
// pkg:oci/NAME@MANIFEST?arch=...&repository_url=...&tag=..., from the first tag that names a
// repository; empty when none does (an image saved without a name: the oci type requires a name)
// or when the file does not hold the image's manifest (registries name an image by its digest).
std::string ImagePurl(const ImageIdentity& image);

// cpe:2.3:a:VENDOR:PRODUCT:VERSION:*:*:*:*:*:*:*, each value bound as the CPE 2.3 formatted string
// binding asks: lower case, blanks as underscores, other punctuation quoted with a backslash,
// bytes outside printable ASCII as \%XX; an empty value is ANY (*).
std::string Cpe(std::string_view vendor, std::string_view product, std::string_view version);

// A random RFC 4122 serial number, urn:uuid:...
std::string RandomSerialNumber();

// The document up to the opening of its component list.
std::string BomHead();

// The document's end: its metadata (written last, once the subject is known), with the component
// of the package or image scanned (`subject`, a component's JSON text) when there was one.
std::string BomTail(std::string_view tool_version, std::string_view subject);

// Appends one component for a record, after a comma unless it is the document's first.
void AppendRecordComponent(const zeblix::Record& record, const LinePlace& place,
                           std::string& out);

// Appends one component of type "file" for a file (or member) that holds no record.
void AppendFileComponent(const LinePlace& place, std::string& out);

// Appends the component of a package or an image that holds others, `children` (components,
// each after kComponentSeparator); with `subject`, writes it there, without children, instead.
void AppendHolderComponent(const Holder& holder, const LinePlace& place, std::string_view children,
                           std::string& out, std::string* subject = nullptr);

// The list separator every component line begins with; the first one written drops it.
inline constexpr std::string_view kComponentSeparator = ",\n";
