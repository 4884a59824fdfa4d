// Child processes for the end-to-end tests, and the file and directory helpers they use.
#include "tests/run_binary.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef ZEBLIX_BINARY
#error "ZEBLIX_BINARY must name the built utility"
#endif

namespace {

std::string ReadBack(std::FILE* capture) {
  std::string text;
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;) text += static_cast<char>(c);
  std::fclose(capture);
  return text;
}

// The child's output goes to anonymous temporary files, read back once it has exited.
RunResult RunProgram(const std::string& program, std::vector<std::string> args,
                     const std::optional<std::string>& svrlog, const std::string& cwd,
                     const std::string& input_file, bool unprivileged) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const pid_t child = fork();
  if (child == 0) {
    std::FILE* in = std::fopen(input_file.c_str(), "r");
    const bool drop = unprivileged && geteuid() == 0;
    // Opened before privileges are dropped: the build tree may lie where the other user cannot
    // enter, and the program is run through its descriptor.
    const int image = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (in == nullptr || image < 0 || dup2(fileno(in), 0) < 0 || dup2(fileno(out), 1) < 0 ||
        dup2(fileno(err), 2) < 0 || chdir(cwd.c_str()) != 0 ||
        (drop && (setgid(kUnprivilegedUser) != 0 || setuid(kUnprivilegedUser) != 0))) {
      _exit(127);
    }
    svrlog ? setenv("SVRLOG", svrlog->c_str(), 1) : unsetenv("SVRLOG");
    setenv("ZEBLIX", ZEBLIX_BINARY, 1);
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    fexecve(image, argv.data(), environ);
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  }
  result.out = ReadBack(out);
  result.err = ReadBack(err);
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

std::string MaskAddresses(const std::string& trace) {
  constexpr std::size_t kDigits = 8;
  std::string masked = trace;
  for (const std::string line : {"FindDelim(): returning 0x", "XlatOS(): returning 0x"}) {
    for (std::size_t at = masked.find(line); at != std::string::npos;
         at = masked.find(line, at + 1)) {
      const std::size_t digits = at + line.size();
      const bool whole_line =
          (at == 0 || masked[at - 1] == '\n') &&
          masked.find_first_not_of("0123456789ABCDEF", digits) == digits + kDigits &&
          masked.compare(digits + kDigits, 1, "\n") == 0;
      if (whole_line) masked.replace(digits, kDigits, kDigits, '?');
    }
  }
  return masked;
}

std::string ReadWholeFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
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
