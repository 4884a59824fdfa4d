// Child processes for the end-to-end tests, and the file and directory helpers they use.
#include "tests/run_binary.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef ZEBLIX_BINARY
#error "ZEBLIX_BINARY must name the built utility"
#endif

namespace {

std::string MakeCaptureFile(const char* tag) {
  std::string name = std::filesystem::temp_directory_path() / "zeblix-capture-";
  name += tag;
  name += "-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd >= 0) close(fd);
  return name;
}

}  // namespace

namespace {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::optional<std::string>& svrlog, const std::string& cwd,
                     const std::string& input_file, bool unprivileged) {
  const std::string out_name = MakeCaptureFile("out");
  const std::string err_name = MakeCaptureFile("err");
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(input_file.c_str(), O_RDONLY);
    const int out = open(out_name.c_str(), O_WRONLY | O_TRUNC);
    const int err = open(err_name.c_str(), O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(cwd.c_str()) != 0) {
      _exit(127);
    }
    if (unprivileged && geteuid() == 0 &&
        (setgid(kUnprivilegedUser) != 0 || setuid(kUnprivilegedUser) != 0)) {
      _exit(127);
    }
    if (svrlog) {
      setenv("SVRLOG", svrlog->c_str(), 1);
    } else {
      unsetenv("SVRLOG");
    }
    setenv("ZEBLIX", ZEBLIX_BINARY, 1);
    std::vector<std::string> copies = args;
    copies.insert(copies.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  }
  result.out = ReadWholeFile(out_name);
  result.err = ReadWholeFile(err_name);
  std::remove(out_name.c_str());
  std::remove(err_name.c_str());
  return result;
}

}  // namespace

RunResult RunZeblix(const std::vector<std::string>& args, const std::optional<std::string>& svrlog,
                    const std::string& cwd, const std::string& input_file, bool unprivileged) {
  return RunProgram(ZEBLIX_BINARY, args, svrlog, cwd, input_file, unprivileged);
}

RunResult RunShell(const std::string& command, const std::optional<std::string>& svrlog,
                   const std::string& cwd) {
  return RunProgram("/bin/sh", {"-c", command}, svrlog, cwd, "/dev/null", false);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ScopedTempDir::ScopedTempDir(const std::string& parent) {
  const std::filesystem::path under =
      parent.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(parent);
  std::string pattern = under / "zeblix-test-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

bool IsAddressLine(const std::string& line) {
  constexpr std::size_t kDigits = 8;
  for (const std::string prefix : {"FindDelim(): returning 0x", "XlatOS(): returning 0x"}) {
    if (line.size() == prefix.size() + kDigits && line.compare(0, prefix.size(), prefix) == 0 &&
        line.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string MaskAddresses(const std::string& trace) {
  std::string masked;
  std::size_t start = 0;
  while (start < trace.size()) {
    const std::size_t end = std::min(trace.find('\n', start), trace.size());
    std::string line = trace.substr(start, end - start);
    if (IsAddressLine(line)) line.replace(line.size() - 8, 8, "????????");
    masked += line;
    if (end < trace.size()) masked += '\n';
    start = end + 1;
  }
  return masked;
}
