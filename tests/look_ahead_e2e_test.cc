// Look-ahead reading, end to end: a directory whose entries change while the walk reads ahead (a
// file removed and one replaced by a FIFO after they were hinted, before their turn; another
// replaced by a FIFO after it was listed, before it was hinted) gives the same reports and trace
// lines with a cold page cache, where the walk reads ahead (on an io_uring, and where io_uring is
// refused), as with a warm one, where it does not; and nothing hangs. Every form of path the walk treats apart reads the same cold as warm. The trace goes through a one-page pipe that the test
// reads line by line, so the utility can run only a few entries ahead of the test's reading: the
// change lands at the same point of the walk in both runs.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/block_writer.h"
#include "tests/run_binary.h"

extern char** environ;

namespace {

using namespace testdata;

constexpr int kFiles = 200;
constexpr std::size_t kTrigger = 5;               // the entry whose turn starts the change
constexpr std::size_t kRemoved = 45, kFifo = 55;  // hinted by then, their turn not yet come
constexpr std::size_t kLaterFifo = 150;           // listed by then, hinted after the change

std::vector<std::string> Listing(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_type == DT_REG) names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

void Evict(const std::string& directory) {
  for (const std::string& name : Listing(directory)) {
    const int fd = open((directory + "/" + name).c_str(), O_RDONLY);
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
}

// Runs zeblix on `directory` with the main() trace, through `launcher` when there is one; when
// the trace reaches the trigger entry's turn, removes one entry and puts a FIFO in place of
// another. Returns stdout and the trace.
RunResult RunChangingTheDirectory(const std::string& cwd, const std::string& directory,
                                  std::string launcher = {}) {
  const std::vector<std::string> names = Listing(cwd + "/" + directory);
  int trace[2];
  if (pipe(trace) != 0) return {};
  fcntl(trace[0], F_SETPIPE_SZ, 4096);
  const std::string out = cwd + "/" + directory + ".out";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, trace[1], 2);
  posix_spawn_file_actions_addclose(&actions, trace[0]);
  std::string zeblix = ZEBLIX_BINARY;
  std::vector<char*> argv{zeblix.data(), const_cast<char*>(directory.c_str()), nullptr};
  if (!launcher.empty()) argv.insert(argv.begin(), launcher.data());
  const char* program = argv.front();
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  setenv("SVRLOG", "0x102", 1);
  pid_t child = -1;
  posix_spawn(&child, program, &actions, nullptr, argv.data(), environ);
  unsetenv("SVRLOG");
  posix_spawn_file_actions_destroy(&actions);
  close(trace[1]);

  RunResult result;
  const std::string trigger = "main(): processing file " + directory + "/" + names[kTrigger] + "\n";
  std::FILE* lines = fdopen(trace[0], "r");
  alarm(30);  // a hang fails the test instead of stopping the suite
  for (char line[4096]; std::fgets(line, sizeof line, lines) != nullptr;) {
    result.err += line;
    if (line != trigger) continue;
    const std::string base = cwd + "/" + directory + "/";
    unlink((base + names[kRemoved]).c_str());
    for (const std::size_t fifo : {kFifo, kLaterFifo}) {
      unlink((base + names[fifo]).c_str());
      mkfifo((base + names[fifo]).c_str(), 0644);
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  alarm(0);
  std::fclose(lines);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadWholeFile(out);
  return result;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(LookAhead, EntriesChangedAfterTheyWereHintedGiveTheSameReportsAndTrace) {
  // On the build's own file system, where pages can be evicted (unlike tmpfs).
  ScopedTempDir tmp(std::filesystem::current_path());
  for (const std::string directory : {"cold", "refused", "warm"}) {
    ASSERT_EQ(mkdir((tmp / directory).c_str(), 0755), 0);
    for (int i = 0; i < kFiles; ++i) {
      BlockFields fields;
      fields.company = "File " + std::to_string(i);
      const std::string bytes =
          i % 3 == 0 ? Filler(9000) + FullWidthBlock(fields, NativeOrder()) : Filler(5000 + i);
      WriteWholeFile(tmp / (directory + "/f" + std::to_string(i)), bytes);
    }
  }
  ASSERT_EQ(Listing(tmp / "cold"), Listing(tmp / "warm"));
  ASSERT_EQ(Listing(tmp / "refused"), Listing(tmp / "warm"));
  const RunResult warm = RunChangingTheDirectory(tmp.path(), "warm");
  EXPECT_EQ(warm.exit_status, 0);
  EXPECT_NE(warm.out.find("Company            - File 0\n"), std::string::npos);
  for (const auto& [directory, launcher] : {std::pair<std::string, std::string>{"cold", ""},
                                            {"refused", NO_IO_URING}}) {
    Evict(tmp / directory);
    const RunResult cold = RunChangingTheDirectory(tmp.path(), directory, launcher);
    EXPECT_EQ(cold.exit_status, 0) << directory;
    EXPECT_EQ(Replace(cold.out, directory, "warm"), warm.out) << directory;
    EXPECT_EQ(Replace(cold.err, directory, "warm"), warm.err) << directory;
  }
}

// Every form of path the walk treats apart, read cold (where it reads ahead) and then warm
// (where it does not): the same reports and trace.
TEST(LookAhead, EveryPathFormGivesTheSameReportsColdAsWarm) {
  ScopedTempDir tmp(std::filesystem::current_path());
  ASSERT_EQ(mkdir((tmp / "d").c_str(), 0755), 0);
  for (int i = 0; i < 120; ++i) {
    BlockFields fields;
    fields.company = "File " + std::to_string(i);
    WriteWholeFile(tmp / ("d/f" + std::to_string(i)),
                   i % 3 == 0 ? Filler(7000) + FullWidthBlock(fields, NativeOrder()) : Filler(3000));
  }
  ASSERT_EQ(symlink("d", (tmp / "dl").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> forms = {  // argument, working directory
      {"d", tmp.path()}, {"d/", tmp.path()}, {"./d", tmp.path()}, {"dl", tmp.path()},
      {"dl/", tmp.path()}, {".", tmp / "d"}};
  for (const auto& [argument, cwd] : forms) {
    Evict(tmp / "d");
    const RunResult cold = RunZeblix({argument}, "0x102", cwd);
    const RunResult warm = RunZeblix({argument}, "0x102", cwd);
    EXPECT_EQ(cold.exit_status, 0) << argument;
    EXPECT_NE(cold.out.find("Company            - File 0\n"), std::string::npos) << argument;
    EXPECT_EQ(cold.out, warm.out) << argument;
    EXPECT_EQ(cold.err, warm.err) << argument;
  }
}

}  // namespace
