// The statfs magic numbers are the kernel's (linux/magic.h); they are listed here by value so
// that the table names the type each stands for, and so that no kernel header is needed.
#include "walk/file_system_kinds.h"

#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>

namespace {

struct KnownType {
  unsigned long magic;
  const char* name;
  bool pseudo;
};

// clang-format off
constexpr std::array kKnownTypes = {
    KnownType{0x9fa0,     "proc",        true},
    KnownType{0x62656572, "sysfs",       true},
    KnownType{0x64626720, "debugfs",     true},
    KnownType{0x74726163, "tracefs",     true},
    KnownType{0x73636673, "securityfs",  true},
    KnownType{0x0027e0eb, "cgroup",      true},
    KnownType{0x63677270, "cgroup2",     true},
    KnownType{0x6165676c, "pstore",      true},
    KnownType{0xcafe4a11, "bpf",         true},
    KnownType{0x62656570, "configfs",    true},
    KnownType{0xde5e81e4, "efivarfs",    true},
    KnownType{0x00001cd1, "devpts",      true},
    KnownType{0x19800202, "mqueue",      true},
    KnownType{0x958458f6, "hugetlbfs",   true},
    KnownType{0x42494e4d, "binfmt_misc", true},
    KnownType{0x65735543, "fusectl",     true},
    KnownType{0xf97cff8c, "selinuxfs",   true},
    KnownType{0x43415d53, "smackfs",     true},
    KnownType{0x6e736673, "nsfs",        true},
    KnownType{0x67596969, "rpc_pipefs",  true},
    KnownType{0x6e667364, "nfsd",        true},
    KnownType{0x01021994, "tmpfs",       false},
    KnownType{0x0000ef53, "ext4",        false},
    KnownType{0x58465342, "xfs",         false},
    KnownType{0x9123683e, "btrfs",       false},
    KnownType{0x00006969, "nfs",         false},
    KnownType{0xff534d42, "cifs",        false},
    KnownType{0xfe534d42, "smb2",        false},
    KnownType{0x65735546, "fuse",        false},
    KnownType{0x794c7630, "overlay",     false},
    KnownType{0x73717368, "squashfs",    false},
    KnownType{0x00009660, "iso9660",     false},
    KnownType{0x00004d44, "vfat",        false},
    KnownType{0x858458f6, "ramfs",       false},
    KnownType{0x2fc12fc1, "zfs",         false},
};
// clang-format on

// Pseudo file systems whose statfs type is shared with a real one.
constexpr std::array<std::string_view, 1> kPseudoByName = {"devtmpfs"};

const KnownType* TypeOfMagic(unsigned long magic) {
  const auto known = std::find_if(kKnownTypes.begin(), kKnownTypes.end(),
                                  [&](const KnownType& type) { return type.magic == magic; });
  return known == kKnownTypes.end() ? nullptr : &*known;
}

bool PseudoByName(std::string_view type) {
  return std::find(kPseudoByName.begin(), kPseudoByName.end(), type) != kPseudoByName.end() ||
         std::any_of(kKnownTypes.begin(), kKnownTypes.end(),
                     [&](const KnownType& known) { return known.pseudo && known.name == type; });
}

}  // namespace

const FileSystemKind& FileSystemKinds::Of(int fd, dev_t device) {
  if (const auto known = known_.find(device); known != known_.end()) return known->second;
  FileSystemKind kind;
  struct statfs status {};
  const KnownType* by_magic =
      fstatfs(fd, &status) == 0 ? TypeOfMagic(static_cast<unsigned long>(status.f_type)) : nullptr;
  if (!mount_table_read_) ReadMountTable();
  if (const auto mounted = mounted_types_.find(device); mounted != mounted_types_.end()) {
    kind.type = mounted->second;
  } else if (by_magic != nullptr) {
    kind.type = by_magic->name;
  }
  kind.pseudo = (by_magic != nullptr && by_magic->pseudo) || PseudoByName(kind.type);
  return known_.emplace(device, std::move(kind)).first->second;
}

// A line of mountinfo: "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw": the
// third field is the device, and the type follows the lone "-".
void FileSystemKinds::ReadMountTable() {
  mount_table_read_ = true;
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers, field;
    fields >> id >> parent >> numbers;
    unsigned major = 0, minor = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2) continue;
    while (fields >> field && field != "-") {
    }
    std::string type;
    if (fields >> type) mounted_types_.emplace(makedev(major, minor), type);
  }
}
