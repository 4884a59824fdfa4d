#include "tests/run_binary.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

RunResult RunZeblix(const std::vector<std::string>& args, const std::optional<std::string>& svrlog,
                    const std::string& cwd, const std::string& input_file) {
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
    if (svrlog) {
      setenv("SVRLOG", svrlog->c_str(), 1);
    } else {
      unsetenv("SVRLOG");
    }
    std::vector<char*> argv;
    std::string program = ZEBLIX_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
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

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ScopedTempDir::ScopedTempDir() {
  std::string pattern = std::filesystem::temp_directory_path() / "zeblix-test-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}
