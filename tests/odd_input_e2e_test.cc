// Odd and hostile input, end to end through the sanitized build: very long paths, files that
// shrink under the scan, unreadable and looping entries, and offsets beyond 4 GiB. (Records cut at
// every telling size and text fields without a terminator are golden cases.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/block_writer.h"
#include "tests/run_binary.h"

namespace {

using namespace testdata;

const std::string kHeader = "\nQuorvantis Version Information for ";

std::string Block(const std::string& company) {
  BlockFields fields;
  fields.company = company;
  return FullWidthBlock(fields, NativeOrder());
}

bool Reports(const RunResult& run, const std::string& path) {
  return run.out.find(kHeader + path + "\n") != std::string::npos;
}

// Paths longer than the 511 characters of a fixed path buffer are handed on whole.
TEST(LongPaths, ArgumentAndEntryOfAnyLengthAreScanned) {
  ScopedTempDir tmp;
  std::string nested;
  for (int level = 0; level < 4; ++level) {
    nested += std::string(120, static_cast<char>('a' + level)) + "/";
    ASSERT_EQ(mkdir((tmp / nested).c_str(), 0755), 0);
  }
  const std::string name(200, 'f');
  WriteWholeFile(tmp / (nested + name), Block("Long"));
  const std::string argument = nested + name;  // 684 characters
  ASSERT_GT(argument.size(), 600u);

  const RunResult file = RunZeblix({argument}, "0x102", tmp.path());
  EXPECT_TRUE(Reports(file, argument));
  EXPECT_NE(file.err.find("main(): Load single file (" + argument + ")\n"), std::string::npos);

  const RunResult directory = RunZeblix({nested}, std::nullopt, tmp.path());
  EXPECT_TRUE(Reports(directory, nested + name));

  const RunResult missing = RunZeblix({std::string(600, 'x')}, "0x102", tmp.path());
  EXPECT_EQ(missing.exit_status, 0);
  EXPECT_EQ(missing.out, "");
}

// A file cut short while it is read ends early, and the run goes on with the next file.
TEST(ShrinkingFile, NeitherCrashesNorStopsTheRun) {
  ScopedTempDir tmp(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
  WriteWholeFile(tmp / "next.bin", Block("Next"));
  const std::string big = tmp / "big.bin";
  for (const int delay_ms : {0, 5, 20, 60}) {
    WriteWholeFile(big, Filler(64 << 20, 'x'));
    std::thread cutter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      EXPECT_EQ(truncate(big.c_str(), 4096), 0);
    });
    const RunResult run = RunZeblix({"big.bin", "next.bin"}, std::nullopt, tmp.path());
    cutter.join();
    EXPECT_EQ(run.exit_status, 0) << delay_ms;
    EXPECT_TRUE(Reports(run, "next.bin")) << delay_ms;
  }
}

TEST(Entries, LoopsAndDanglingLinksArePassedOver) {
  ScopedTempDir tmp;
  ASSERT_EQ(mkdir((tmp / "d").c_str(), 0755), 0);
  ASSERT_EQ(symlink("loop", (tmp / "d/loop").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (tmp / "d/dangling").c_str()), 0);
  WriteWholeFile(tmp / "d/real.bin", Block("Real"));
  const RunResult run = RunZeblix({"d", "d/loop", "d/dangling"}, "0x102", tmp.path());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out.find(kHeader), run.out.rfind(kHeader));
  EXPECT_TRUE(Reports(run, "d/real.bin"));
  EXPECT_NE(run.err.find("main(): Can not stat file (d/loop)\n"), std::string::npos);
}

// Permissions bind only an unprivileged user; a run as root drops to nobody for this test.
TEST(Entries, UnreadableDirectoryAndFile) {
  ScopedTempDir tmp;
  ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir((tmp / "closed").c_str(), 0), 0);
  WriteWholeFile(tmp / "secret.bin", Block("Secret"));
  ASSERT_EQ(chmod((tmp / "secret.bin").c_str(), 0), 0);
  const RunResult run = RunZeblix({"closed", "secret.bin"}, "0x401", tmp.path(), "/dev/null", true);
  if (run.exit_status == 127) GTEST_SKIP() << "the built utility cannot be run as user nobody here";
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "Unable to Open secret.bin\n");
  EXPECT_EQ(run.err,
            "ZEBLIX logging enabled: SVRLOG = 0x00000401\n"
            "LoadPrintVersionInfo(): Break because error reading the file\n");
}

// Offsets are 64-bit; the trace shows their low 32 bits. Sparse files on a memory file system
// read their holes quickly.
TEST(HugeFiles, RecordsBeyond2And4GiBAreFound) {
  ScopedTempDir tmp(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "");
  constexpr off_t kBlockAt = (off_t{4} << 30) + 100;
  constexpr off_t kOldAt = (off_t{2} << 30) + 7;
  const auto place = [&](const std::string& name, off_t at, const std::string& bytes) {
    const int fd = open((tmp / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    close(fd);
  };
  place("block.bin", kBlockAt, Block("Far"));
  place("old.bin", kOldAt, OldRecord(OldFields{}, NativeOrder()) + Filler(3));
  const RunResult run = RunZeblix({"block.bin", "old.bin"}, "0x10202", tmp.path());
  EXPECT_TRUE(Reports(run, "block.bin"));
  EXPECT_TRUE(Reports(run, "old.bin"));
  EXPECT_NE(run.err.find("LoadVersionInfo(): offset: 100 (64)\n"), std::string::npos);
  EXPECT_NE(run.err.find("LoadVersionInfo(): begin at offset: 1344\n"), std::string::npos);
  EXPECT_NE(run.err.find("LoadVersionInfo(): offset (-2147483641)\n"), std::string::npos);
}

}  // namespace
