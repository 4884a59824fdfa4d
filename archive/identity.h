// What a package or an image says it is, read from its own bookkeeping, never from its file name:
// a .deb's control file, an RPM's header, a saved image's manifest.json and an OCI layout's
// index.json with the manifests it names. These are the identities SBOM tools match by.
//
// The bookkeeping comes from strangers: every reader here takes bytes already held in memory
// (bounded by the caller), checks every length and offset, and answers with a problem in words
// rather than with an identity it had to guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

// The most a control file, an RPM's headers, or one image's JSON document may take in memory.
inline constexpr std::size_t kMostBookkeepingBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMostRpmHeaderBytes = std::size_t{8} << 20;
// The most bytes one name, version or architecture may have.
inline constexpr std::size_t kMostIdentityText = 256;

struct PackageIdentity {
  enum class Type { kDeb, kRpm };
  Type type = Type::kDeb;
  std::string name;
  // A .deb's Version as written (an epoch before a colon); an RPM's version-release.
  std::string version;
  std::string architecture;  // "src" for a source RPM
  std::string epoch;         // an RPM's, when it has one
  // Who made the distribution it belongs to, lower case, as a purl's namespace ("debian",
  // "ubuntu", "fedora"); empty when the package does not say.
  std::string vendor;
};

struct ImageIdentity {
  std::string digest;             // "sha256:<hex>" of the image's config: its image ID
  std::string manifest;           // "sha256:<hex>" of its manifest, where the file holds one
  std::vector<std::string> tags;  // as saved: "registry/repository:tag", or a layout's ref name
  std::string architecture;       // from its config ("amd64", "arm64"), when it says
  std::string os;
  // The digest of each layer, bottom first, beside the holder's `within`; empty where unknown.
  std::vector<std::string> layer_digests;
};

// What holds some of a file's lines: a package or an image, at `where` (the member names of the
// archive it is, from the outermost). A package holds all of its archive; an image only the
// members that are its layers, `within`, named as the archive gives them, bottom first (a layer
// may be named twice).
struct Holder {
  std::optional<PackageIdentity> package;
  std::optional<ImageIdentity> image;
  std::vector<std::string> where;
  std::vector<std::string> within;

  // Whether the content at `member` lies inside this package or image.
  bool Holds(std::span<const std::string> member) const;
  // The layer of this image the content at `member` lies in: the last place its member holds in
  // `within`; -1 when none.
  int LayerOf(std::span<const std::string> member) const;
};

// Whether a member so named may be an image's layer, config or manifest, as image tools name
// them: blobs/sha256/<hex>, <hex>.tar, <hex>.json, <id>/layer.tar.
bool IsImageBlobName(std::string_view name);

// The digest a member's name says its bytes as stored have, "sha256:<hex>", where image tools
// name layers by it (blobs/sha256/<hex>, <hex>.tar); empty for any other name.
std::string NamedDigest(std::string_view name);

// A .deb's identity from its control file; nullopt with `problem` set when a field is missing or
// is not a short line of UTF-8 text.
std::optional<PackageIdentity> ReadDebControl(std::string_view control, std::string& problem);

// How many bytes from an RPM's first hold its lead and both headers, once `head` (its first
// bytes) shows them: 0 when more of the head is needed to tell; nullopt, with `problem`, when the
// head is not an RPM's.
std::optional<std::size_t> RpmHeadersSize(std::span<const std::uint8_t> head,
                                          std::string& problem);
// An RPM's identity from its lead and headers (at least RpmHeadersSize bytes).
std::optional<PackageIdentity> ReadRpmHeaders(std::span<const std::uint8_t> bytes,
                                              std::string& problem);

// The members of an archive that may be an image's bookkeeping: manifest.json, index.json and
// the small JSON blobs, by name as the archive gives it ("./" and all).
class ImageBookkeeping {
 public:
  // Whether the member so named, of `size` bytes (negative: not known), may be bookkeeping whose
  // bytes should be kept.
  bool Wants(std::string_view name, std::int64_t size) const;
  // Keeps the whole bytes of a wanted member; false when they, or all the archive keeps, are
  // too large.
  bool Keep(std::string_view name, std::string_view bytes);
  // Remembers the name of a member that may be a layer or config, to be named as the archive
  // gives it.
  void Saw(std::string_view name);
  // Remembers a symbolic link (docker's <id>/layer.tar to ../<hex>.tar): the image names the
  // link, the archive holds the content under the target's name.
  void SawLink(std::string_view name, std::string_view target);

  // The images the bookkeeping describes, each with the members (layers) that are its own;
  // `problems` says what did not read. Nothing when the archive is not an image.
  std::vector<Holder> Images(std::vector<std::string>& problems) const;

 private:
  std::vector<Holder> SavedImages(const std::string& manifest,
                                  std::vector<std::string>& problems) const;
  std::vector<Holder> LayoutImages(const std::string& index,
                                   std::vector<std::string>& problems) const;
  // The image an OCI manifest describes, reached through `descriptor`: its config's digest and
  // what the config says, its layers (`within`, as the archive names them) and their digests;
  // false, with a problem, when it does not read.
  bool ReadManifest(const nlohmann::json& manifest, const nlohmann::json& descriptor,
                    ImageIdentity& image, std::vector<std::string>& within,
                    std::vector<std::string>& problems) const;
  // The members so named, as the archive gives them; false, with a problem, when one is missing.
  bool LayerNames(const std::vector<std::string>& layers, const std::string& image,
                  std::vector<std::string>& names, std::vector<std::string>& problems) const;
  // The member so named (through a link), as the archive gives it; empty when it is not there.
  std::string MemberNamed(std::string_view name) const;
  // What the config of the image says of it, when it is held; false, with a problem, when the
  // archive does not hold it at all.
  bool ReadConfig(const std::string& digest, std::string_view name, ImageIdentity& image,
                  std::vector<std::string>& problems) const;

  std::map<std::string, std::string, std::less<>> kept_;  // by name without "./"
  std::map<std::string, std::string, std::less<>> names_;  // blobs: name without "./" → as given
  std::map<std::string, std::string, std::less<>> links_;  // blobs: name → target, without "./"
  std::size_t kept_bytes_ = 0;
};

// The words of a package type, as JSON, CSV and purls write it.
std::string_view TypeName(PackageIdentity::Type type);
