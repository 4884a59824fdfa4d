// A content is judged by the name it has in its layer's archive, the member that follows the
// layer's own names on its member path: a package inside a deleted file is deleted with it.
#include "archive/layer_view.h"

#include <algorithm>

#include "text/words.h"

namespace {

constexpr std::string_view kWhiteout = ".wh.";
constexpr std::string_view kOpaque = ".wh..wh..opq";

std::string_view Plain(std::string_view name) {
  while (name.starts_with("./")) name.remove_prefix(2);
  while (name.starts_with('/')) name.remove_prefix(1);
  while (name.ends_with('/')) name.remove_suffix(1);
  return name;
}

std::string_view DirectoryOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string Joined(std::string_view directory, std::string_view name) {
  return directory.empty() ? std::string(name) : std::string(directory) + "/" + std::string(name);
}

// Whether `layer` deletes or hides `path` of a layer below it.
bool Hides(const LayerEntries::Layer& layer, std::string_view path) {
  if (layer.entries.contains(path) || layer.deleted.contains(path)) return true;
  for (std::string_view above = DirectoryOf(path); !above.empty(); above = DirectoryOf(above)) {
    if (layer.deleted.contains(above) || layer.opaque.contains(above)) return true;
    const auto entry = layer.entries.find(above);
    if (entry != layer.entries.end() && !entry->second) return true;  // a file where a directory was
  }
  return layer.opaque.contains(std::string_view());  // the root made opaque
}

}  // namespace

bool IsWhiteoutMarker(std::string_view name) {
  return BaseName(Plain(name)).starts_with(kWhiteout);
}

void LayerEntries::Add(const MemberPath& archive, const std::string& name,
                       ArchiveEvents::EntryKind kind) {
  if (++count_ > kMostEntries) return;
  Layer& layer = layers_[archive];
  const std::string_view path = Plain(name);
  const std::string_view base = BaseName(path);
  if (base == kOpaque) {
    layer.opaque.emplace(DirectoryOf(path));
  } else if (base.starts_with(kWhiteout)) {
    layer.deleted.insert(Joined(DirectoryOf(path), base.substr(kWhiteout.size())));
  } else if (!path.empty()) {
    layer.entries.emplace(path, kind == ArchiveEvents::EntryKind::kDirectory);
  }
}

const std::pair<const MemberPath, LayerEntries::Layer>* LayerEntries::LayerAt(
    std::span<const std::string> layer) const {
  // The shortest archive path that begins with the layer's: the layer, or its decompressed bytes.
  const std::pair<const MemberPath, Layer>* found = nullptr;
  for (auto at = layers_.lower_bound(MemberPath(layer.begin(), layer.end()));
       at != layers_.end() && at->first.size() >= layer.size() &&
       std::equal(layer.begin(), layer.end(), at->first.begin());
       ++at) {
    if (found == nullptr || at->first.size() < found->first.size()) found = &*at;
  }
  return found;
}

ImageLayers::ImageLayers(const Holder& image, const LayerEntries& entries) : image_(image) {
  MemberPath layer = image.where;
  layer.emplace_back();
  for (const std::string& name : image.within) {
    layer.back() = name;
    layers_.push_back(entries.LayerAt(layer));
  }
}

ImageLayers::Place ImageLayers::PlaceOf(std::span<const std::string> member) const {
  Place place;
  place.layer = image_.LayerOf(member);
  if (place.layer < 0 || layers_[place.layer] == nullptr) return place;
  const MemberPath& archive = layers_[place.layer]->first;
  if (member.size() <= archive.size() ||
      !std::equal(archive.begin(), archive.end(), member.begin())) {
    return place;
  }
  const std::string_view path = Plain(member[archive.size()]);
  for (std::size_t later = place.layer + 1; later < layers_.size(); ++later) {
    if (layers_[later] != nullptr && Hides(layers_[later]->second, path)) {
      place.deleted_by = static_cast<int>(later);
      break;
    }
  }
  return place;
}
