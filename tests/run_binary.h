// Runs the built zeblix as a child process and captures what it writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct RunResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // -1 when the child did not exit normally
};

// Runs the utility in directory `cwd` with `args`; SVRLOG is set to `svrlog`, or removed from the
// environment when it has no value. Standard input is /dev/null unless `input_file` names a file.
// With `unprivileged`, a run by root drops to the user nobody, so that file permissions apply.
RunResult RunZeblix(const std::vector<std::string>& args, const std::optional<std::string>& svrlog,
                    const std::string& cwd = ".", const std::string& input_file = "/dev/null",
                    bool unprivileged = false);

// The user id an unprivileged run has.
inline constexpr unsigned kUnprivilegedUser = 65534;

// Runs `command` with /bin/sh in directory `cwd`; ZEBLIX names the built utility there.
RunResult RunShell(const std::string& command, const std::optional<std::string>& svrlog,
                   const std::string& cwd);

// The trace with the address in the two lines that print one ("FindDelim(): returning 0x…",
// "XlatOS(): returning 0x…") replaced by "????????".
std::string MaskAddresses(const std::string& trace);

// The whole content of a file, or an empty string when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScopedTempDir {
 public:
  // Under the system's temporary directory, or under `parent`.
  explicit ScopedTempDir(const std::string& parent = "");
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
