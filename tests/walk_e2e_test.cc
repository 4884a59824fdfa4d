// The argument and directory walk, run end to end: the whole trace of main() under SVRLOG=0x102.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/run_binary.h"

namespace {

const std::string kEnabled = "ZEBLIX logging enabled: SVRLOG = 0x00000102\n";
const std::string kOpen = "main(): {\n";
const std::string kClose = "main(): returning 0\nmain(): }\n";

std::string Line(const std::string& text) {
  return "main(): " + text + "\n";
}

std::string ArgumentHeader(int index, const std::string& argument) {
  return Line("Loop index " + std::to_string(index)) + Line("Processing Argument " + argument) +
         Line("Using argv[" + std::to_string(index + 1) + "] = " + argument) +
         Line("Files to search: " + argument) + Line("path so far: " + argument);
}

std::string SingleFile(int index, const std::string& argument) {
  return ArgumentHeader(index, argument) + Line("path (" + argument + ") is file") +
         Line("Finished File mask (" + argument + ")") +
         Line("Load single file (" + argument + ")");
}

// The entry lines in the order the system lists the directory; `regular` names the entries that
// are handed on.
std::string EntryLines(const std::string& directory, const std::string& prefix,
                       const std::vector<std::string>& regular) {
  std::string lines;
  DIR* dir = opendir(directory.c_str());
  while (const dirent* entry = readdir(dir)) {
    const std::string full = prefix + entry->d_name;
    lines += Line("reading dir entry ...") + Line("Filename and path (" + full + ")");
    for (const std::string& name : regular) {
      if (name == entry->d_name)
        lines += Line(" (" + full + ") is regular file") + Line("processing file " + full);
    }
  }
  closedir(dir);
  return lines;
}

class WalkTrace : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir((tmp_ / "d").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tmp_ / "d/sub").c_str(), 0755), 0);
    WriteWholeFile(tmp_ / "d/a.bin", "plain bytes");
    WriteWholeFile(tmp_ / "d/sub/deep.bin", "never reached");
    WriteWholeFile(tmp_ / "d/100%s%n.bin", "percent");
    ASSERT_EQ(symlink("a.bin", (tmp_ / "d/link.bin").c_str()), 0);
    ASSERT_EQ(symlink("missing", (tmp_ / "d/dangling").c_str()), 0);
  }

  void ExpectTrace(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& body) {
    const RunResult run = RunZeblix(args, "0x102", cwd);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kEnabled + kOpen + body + kClose);
  }

  const std::vector<std::string> regular_{"a.bin", "100%s%n.bin", "link.bin"};
  ScopedTempDir tmp_;
};

TEST_F(WalkTrace, NoArgumentWalksTheCurrentDirectory) {
  const std::string body = Line("Loop index 0") + Line("Processing Argument .") +
                           Line("Files to search: .") + Line("path so far: .") +
                           Line("path (.) is directory") + Line(" File mask(./.) ") +
                           Line(" path mask(./) ") + Line("Finished File mask (./.)") +
                           EntryLines(tmp_ / "d", "./", regular_);
  ExpectTrace({}, tmp_ / "d", body);
}

TEST_F(WalkTrace, FileWithoutDirectoryPartIsHandedOnAsTyped) {
  ExpectTrace({"a.bin", "100%s%n.bin"}, tmp_ / "d",
              SingleFile(0, "a.bin") + SingleFile(1, "100%s%n.bin"));
}

TEST_F(WalkTrace, DirectoryWithAndWithoutTrailingSlash) {
  const std::string without = ArgumentHeader(0, "d") + Line("path (d) is directory") +
                              Line(" File mask(d/.) ") + Line(" path mask(d/) ") +
                              Line("Finished File mask (d/.)") +
                              EntryLines(tmp_ / "d", "d/", regular_);
  const std::string with = ArgumentHeader(1, "d/") + Line("path (d/) is directory") +
                           Line(" File mask(d//.) ") + Line("Finished File mask (d//.)") +
                           EntryLines(tmp_ / "d", "d/", regular_);
  ExpectTrace({"d", "d/"}, tmp_.path(), without + with);
}

TEST_F(WalkTrace, PathsThatCannotBeExaminedAreNarrowedAndPassedOver) {
  const std::string body = ArgumentHeader(0, "nope") + Line("Can not stat file (nope)") +
                           Line("Finished File mask (nope)") + ArgumentHeader(1, "gone/") +
                           Line("Can not stat file (gone/)") + Line("File mask (gone/.)") +
                           Line("Finished File mask (gone/.)") + ArgumentHeader(2, "d/nope") +
                           Line("Can not stat file (d/nope)") +
                           Line("Finished File mask (d/nope)") + ArgumentHeader(3, "d/dangling") +
                           Line("Can not stat file (d/dangling)") +
                           Line("Finished File mask (d/dangling)");
  ExpectTrace({"nope", "gone/", "d/nope", "d/dangling"}, tmp_.path(), body);
}

TEST_F(WalkTrace, DotAndALinkToADirectoryAreDirectories) {
  ASSERT_EQ(symlink("d", (tmp_ / "dl").c_str()), 0);
  const std::string dot = ArgumentHeader(0, ".") + Line("path (.) is directory") +
                          Line(" File mask(./.) ") + Line(" path mask(./) ") +
                          Line("Finished File mask (./.)") + EntryLines(tmp_ / "d", "./", regular_);
  const std::string link = ArgumentHeader(1, "../dl") + Line("path (../dl) is directory") +
                           Line(" File mask(../dl/.) ") + Line(" path mask(../dl/) ") +
                           Line("Finished File mask (../dl/.)") +
                           EntryLines(tmp_ / "d", "../dl/", regular_);
  ExpectTrace({".", "../dl"}, tmp_ / "d", dot + link);
}

// The root directory keeps its one slash: its entries are "/" and their names.
TEST_F(WalkTrace, TheRootDirectory) {
  std::vector<std::string> regular;
  DIR* root = opendir("/");
  while (const dirent* entry = readdir(root)) {
    struct stat status {};
    if (stat((std::string("/") + entry->d_name).c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      regular.push_back(entry->d_name);
    }
  }
  closedir(root);
  const std::string body = ArgumentHeader(0, "/") + Line("path (/) is directory") +
                           Line(" File mask(/.) ") + Line("Finished File mask (/.)") +
                           EntryLines("/", "/", regular);
  const RunResult run = RunZeblix({"/"}, "0x102", tmp_.path());
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, kEnabled + kOpen + body + kClose);
}

TEST_F(WalkTrace, SymbolicLinkAndDashArgumentsAreFiles) {
  WriteWholeFile(tmp_ / "-v", "dash");
  ExpectTrace({"d/link.bin", "-v"}, tmp_.path(), SingleFile(0, "d/link.bin") + SingleFile(1, "-v"));
}

TEST(OwnImage, HoldsTheEyecatcherExactlyOnce) {
  const std::string image = ReadWholeFile(ZEBLIX_BINARY);
  const std::string eyecatcher = std::string("QuorvantisXZEBLIXzeblixXQuorvantis61100") + '\0';
  std::size_t count = 0;
  for (std::size_t at = image.find(eyecatcher); at != std::string::npos;
       at = image.find(eyecatcher, at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 1u);
}

}  // namespace
