// Package URLs and CPE names: how SBOM tools and vulnerability databases name what a line lies in.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "archive/identity.h"

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

// An image reference's repository and tag: "registry/repo:tag", "repo@sha256:..." (no tag), or a
// bare tag (no repository).
std::pair<std::string_view, std::string_view> RepositoryAndTag(std::string_view reference);

// cpe:2.3:a:VENDOR:PRODUCT:VERSION:*:*:*:*:*:*:*, each value bound as the CPE 2.3 formatted string
// binding asks: lower case, blanks as underscores, other punctuation quoted with a backslash,
// bytes outside printable ASCII as \%XX; an empty value is ANY (*).
std::string Cpe(std::string_view vendor, std::string_view product, std::string_view version);
