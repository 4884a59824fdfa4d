// What file system a directory lies on: its type's name, as the mount table gives it ("ext4",
// "nfs4", "fuse.sshfs"), and whether it is one of the kernel's pseudo file systems (proc, sysfs,
// devtmpfs, cgroup and the like), whose files are views of the kernel rather than data: some
// read without end (/proc/PID/pagemap), some block, none holds a product.
#pragma once

#include <sys/types.h>

#include <string>
#include <unordered_map>

struct FileSystemKind {
  std::string type;     // empty when neither the mount table nor the statfs type tells
  bool pseudo = false;  // a kernel pseudo file system: never walked
};

class FileSystemKinds {
 public:
  // The kind of the file system of the open directory `fd`, which lies on `device`. The kernel's
  // statfs type decides; the mount table (/proc/self/mountinfo, read once) names the type and
  // tells devtmpfs, whose statfs type is tmpfs's, from tmpfs.
  const FileSystemKind& Of(int fd, dev_t device);

 private:
  void ReadMountTable();

  std::unordered_map<dev_t, FileSystemKind> known_;
  std::unordered_map<dev_t, std::string> mounted_types_;
  bool mount_table_read_ = false;
};
