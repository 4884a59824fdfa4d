// Pipes, FIFOs, devices and sockets, end to end: a stream is read to its end once, and reports on
// it the same as on the file it carries.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "tests/block_writer.h"
#include "tests/run_binary.h"

namespace {

using namespace testdata;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Two blocks with a rejected candidate between them, and an old record the blocks hide.
std::string TwoBlocksFile() {
  BlockFields first, broken, second;
  first.company = "First";
  broken.internal_id = 0x01020304;
  second.company = "Second";
  OldFields old;
  return Filler(100) + FullWidthBlock(first, NativeOrder()) +
         CompactBlock(RawFields(broken, NativeOrder())) + FullWidthBlock(second, ForeignOrder()) +
         OldRecord(old, NativeOrder()) + Filler(300000);
}

std::string OldRecordFile() {
  return Filler(70000, 'Q') + OldRecord(OldFields{}, ForeignOrder()) + Filler(9);
}

class Streams : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    WriteWholeFile(tmp_ / "f.bin", GetParam() == "old" ? OldRecordFile() : TwoBlocksFile());
  }
  ScopedTempDir tmp_;
};

TEST_P(Streams, PipeReportsAsTheFile) {
  // Without the per-byte lines, then with the exact byte-by-byte search traced.
  for (const char* svrlog : {"0x603", "0x3f603"}) {
    const RunResult file = RunZeblix({"f.bin"}, svrlog, tmp_.path());
    const RunResult pipe = RunShell("cat f.bin | \"$ZEBLIX\" /dev/stdin", svrlog, tmp_.path());
    ASSERT_FALSE(file.out.empty());
    EXPECT_EQ(Replace(pipe.out, "/dev/stdin", "f.bin"), file.out) << svrlog;
    EXPECT_EQ(MaskAddresses(Replace(pipe.err, "/dev/stdin", "f.bin")), MaskAddresses(file.err))
        << svrlog;
  }
}

TEST_P(Streams, FifoArgumentIsReadToItsEnd) {
  ASSERT_EQ(mkfifo((tmp_ / "p").c_str(), 0600), 0);
  const RunResult file = RunZeblix({"f.bin"}, std::nullopt, tmp_.path());
  const RunResult fifo = RunShell("cat f.bin > p & \"$ZEBLIX\" p; wait", std::nullopt, tmp_.path());
  EXPECT_EQ(Replace(fifo.out, "for p\n", "for f.bin\n"), file.out);
}

INSTANTIATE_TEST_SUITE_P(Files, Streams, ::testing::Values("blocks", "old"));

TEST(Devices, NullDeviceHoldsNothing) {
  const RunResult run = RunZeblix({"/dev/null"}, "0x401", ".");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "ZEBLIX logging enabled: SVRLOG = 0x00000401\n"
            "LoadPrintVersionInfo(): Break because no version info found\n");
}

TEST(Devices, SocketInADirectoryIsHandedOnAndCannotBeOpened) {
  ScopedTempDir tmp;
  ASSERT_EQ(mkdir((tmp / "d").c_str(), 0755), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = tmp / "d/s";
  ASSERT_LT(name.size(), sizeof address.sun_path);
  name.copy(address.sun_path, name.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const RunResult run = RunZeblix({"d"}, "0x601", tmp.path());
  close(sock);
  EXPECT_EQ(run.out, "Unable to Open d/s\n");
  EXPECT_EQ(run.err,
            "ZEBLIX logging enabled: SVRLOG = 0x00000601\n"
            "LoadVersionInfo(): Unable to Open d/s\n"
            "LoadPrintVersionInfo(): Break because error reading the file\n");
}

}  // namespace
