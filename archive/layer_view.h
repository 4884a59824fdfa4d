// What the later layers of an image do to the files of an earlier one, as container runtimes
// apply them (the OCI image layout's rules, which docker's layers follow too): a whiteout
// ".wh.NAME" deletes NAME and all below it; an opaque marker ".wh..wh..opq" hides what the layers
// below hold in its directory; an entry at the same path replaces what was there, and a file or
// link where a directory was hides the directory's contents. Markers act on the layers below their
// own only. An image as it runs holds the files no later layer deletes or hides.
#pragma once

#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_events.h"

// The entries of the archives that may be layers, as a scan lists them.
class LayerEntries {
 public:
  // The most entries kept for one file; past it, no layer is judged (see complete()).
  static constexpr std::size_t kMostEntries = 4'000'000;

  void Add(const MemberPath& archive, const std::string& name, ArchiveEvents::EntryKind kind);
  // Every entry told was kept.
  bool complete() const { return count_ <= kMostEntries; }

  // What one layer's archive holds, by path as the layer names it (no "./", no trailing slash).
  struct Layer {
    std::map<std::string, bool, std::less<>> entries;  // path → is a directory
    std::set<std::string, std::less<>> deleted;      // whiteouts' targets
    std::set<std::string, std::less<>> opaque;       // directories made opaque
  };
  // The archive of the layer that is the member at `layer` (it, or what it decompresses to), and
  // its entries; nullptr when it holds no archive.
  const std::pair<const MemberPath, Layer>* LayerAt(std::span<const std::string> layer) const;

 private:
  std::map<MemberPath, Layer> layers_;
  std::size_t count_ = 0;
};

// A name's last part is a whiteout or opaque marker, bookkeeping rather than a file.
bool IsWhiteoutMarker(std::string_view name);

// One image's layers, bottom first, each with what it holds.
class ImageLayers {
 public:
  ImageLayers(const Holder& image, const LayerEntries& entries);

  // The layer the content at `member` lies in (-1: none), and the later layer that deletes or
  // hides it (-1: none, and so it is in the image as it runs).
  struct Place {
    int layer = -1;
    int deleted_by = -1;
  };
  Place PlaceOf(std::span<const std::string> member) const;

 private:
  const Holder& image_;
  std::vector<const std::pair<const MemberPath, LayerEntries::Layer>*> layers_;
};
