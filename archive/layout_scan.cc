// The layout's bookkeeping (index.json, manifests, configs: small JSON files) is read first, then
// every file is scanned in the order the directory lists it, as a tar of it would hold it.
#include "archive/layout_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "archive/archive_scan.h"
#include "archive/identity.h"
#include "text/words.h"

namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;

struct LayoutFile {
  std::string path;
  std::int64_t size = 0;
};

struct Listing {
  std::vector<LayoutFile> files;
  std::vector<std::pair<std::string, int>> errors;  // a path, and why it could not be listed
};

bool IsRegular(int directory_fd, const char* name) {
  struct stat status {};
  return fstatat(directory_fd, name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode);
}

// Lists the regular files below the open directory, depth first; takes `fd` over.
void List(int fd, const std::string& prefix, int depth, Listing& listing) {
  DIR* directory = fdopendir(fd);
  if (directory == nullptr) {
    listing.errors.emplace_back(prefix, errno);
    close(fd);
    return;
  }
  for (const dirent* entry; (entry = readdir(directory)) != nullptr;) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || listing.files.size() >= kMostLayoutFiles) continue;
    const std::string path = prefix.empty() ? name : prefix + "/" + name;
    struct stat status {};
    if (fstatat(dirfd(directory), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      listing.errors.emplace_back(path, errno);
    } else if (S_ISREG(status.st_mode)) {
      listing.files.push_back({path, status.st_size});
    } else if (S_ISDIR(status.st_mode) && depth < kDeepestLayout) {
      const int inner = openat(dirfd(directory), name.c_str(), kOpenFlags | O_DIRECTORY);
      if (inner < 0) {
        listing.errors.emplace_back(path, errno);
      } else {
        List(inner, path, depth + 1, listing);
      }
    }
  }
  closedir(directory);
}

// The whole of a small file, for the bookkeeping; false when it cannot be read or is larger.
bool ReadSmall(int directory_fd, const LayoutFile& file, std::string& bytes) {
  if (file.size < 0 || static_cast<std::uint64_t>(file.size) > kMostBookkeepingBytes) return false;
  const int fd = openat(directory_fd, file.path.c_str(), kOpenFlags | O_NONBLOCK);
  if (fd < 0) return false;
  bytes.resize(kMostBookkeepingBytes + 1);
  std::size_t filled = 0;
  for (ssize_t got; filled < bytes.size() &&
                    (got = read(fd, bytes.data() + filled, bytes.size() - filled)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    filled += static_cast<std::size_t>(got);
  }
  close(fd);
  bytes.resize(filled);
  return filled <= kMostBookkeepingBytes;
}

// The events of one file's scan, told as those of the layout's member at `path`.
ArchiveEvents Within(const ArchiveEvents& events, const std::string& path,
                     const std::shared_ptr<std::string>& layout_digest) {
  const auto member = [path](const MemberPath& inner) {
    MemberPath whole{path};
    whole.insert(whole.end(), inner.begin(), inner.end());
    return whole;
  };
  const auto digests = [layout_digest](const Digests& inner) {
    if (inner.empty()) return inner;
    Digests whole{layout_digest};
    whole.insert(whole.end(), inner.begin(), inner.end());
    return whole;
  };
  ArchiveEvents within;
  within.on_record = [&events, member, digests](const MemberPath& at, const Digests& d,
                                                 const zeblix::Record& record) {
    events.on_record(member(at), digests(d), record);
  };
  within.on_error = [&events, member](const MemberPath& at, int error, const std::string& message) {
    events.on_error(member(at), error, message);
  };
  within.on_scanned = [&events, member, digests](const MemberPath& at, const Digests& d) {
    events.on_scanned(member(at), digests(d));
  };
  within.new_digest = events.new_digest;
  if (events.on_holder) {
    within.on_holder = [&events, member, digests](const Holder& holder, const Digests& d) {
      Holder moved = holder;
      moved.where = member(holder.where);
      events.on_holder(moved, digests(d));
    };
  }
  if (events.on_entry) {
    within.on_entry = [&events, member](const MemberPath& archive, const std::string& name,
                                        ArchiveEvents::EntryKind kind) {
      events.on_entry(member(archive), name, kind);
    };
  }
  return within;
}

}  // namespace

bool IsOciLayout(int directory_fd) {
  return IsRegular(directory_fd, "oci-layout") && IsRegular(directory_fd, "index.json");
}

void ScanLayout(int directory_fd, const ArchiveLimits& limits, const ArchiveEvents& events) {
  Listing listing;
  const int fd = fcntl(directory_fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return events.on_error({}, errno, {});
  List(fd, {}, 1, listing);
  for (const auto& [path, error] : listing.errors) events.on_error({path}, error, {});
  ImageBookkeeping book;
  std::string bytes;
  for (const LayoutFile& file : listing.files) {
    book.Saw(file.path);
    if (events.on_holder && book.Wants(file.path, file.size) && ReadSmall(directory_fd, file, bytes)) {
      book.Keep(file.path, bytes);
    }
  }
  const auto layout_digest = std::make_shared<std::string>();  // a directory has none
  for (const LayoutFile& file : listing.files) {
    const int member = openat(directory_fd, file.path.c_str(), kOpenFlags | O_NONBLOCK);
    if (member < 0) {
      events.on_error({file.path}, errno, {});
      continue;
    }
    const std::string_view base = BaseName(file.path);
    ScanPacked(member, base, limits, Within(events, file.path, layout_digest),
               {.layer = IsImageBlobName(file.path)});
    close(member);
  }
  if (!events.on_holder) return;
  std::vector<std::string> problems;
  for (const Holder& image : book.Images(problems)) {
    events.on_holder(image, events.new_digest ? Digests{layout_digest} : Digests{});
  }
  for (const std::string& problem : problems) events.on_error({}, EINVAL, problem);
}
