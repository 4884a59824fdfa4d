// The reader's process: what it tells comes back whole, digests made there included, and a reader
// that takes too much memory, reads nothing more, or crashes is stopped with an error that names
// the bound, while what it told before is kept.
#include "archive/reader_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using End = ReaderOutcome::End;

// What came back from the reader's process.
struct Told {
  std::vector<std::string> records;
  std::vector<std::string> errors;
};

ArchiveEvents Collecting(Told& told) {
  ArchiveEvents events;
  events.on_record = [&](const MemberPath& member, const Digests&, const zeblix::Record& r) {
    told.records.push_back((member.empty() ? std::string() : member.back() + ":") + r.product_name);
  };
  events.on_error = [&](const MemberPath&, int, const std::string& message) {
    told.errors.push_back(message);
  };
  events.on_scanned = [](const MemberPath&, const Digests&) {};
  return events;
}

zeblix::Record Named(const std::string& name) {
  zeblix::Record record;
  record.product_name = name;
  return record;
}

void TellOne(const ArchiveEvents& events) {
  events.on_record({"a.tar", "lib.so"}, {}, Named("widget"));
}

void Hog(const ArchiveEvents& events, std::atomic<std::uint64_t>&) {
  TellOne(events);
  constexpr std::size_t kChunk = std::size_t{16} << 20;
  for (std::vector<char*> held;;) {
    char* chunk = static_cast<char*>(std::malloc(kChunk));
    if (chunk == nullptr) throw std::bad_alloc();
    std::memset(chunk, 1, kChunk);
    held.push_back(chunk);
  }
}

void Sleep(const ArchiveEvents& events, std::atomic<std::uint64_t>&) {
  TellOne(events);
  for (;;) pause();
}

void Crash(const ArchiveEvents& events, std::atomic<std::uint64_t>&) {
  TellOne(events);
  std::abort();
}

// Reads slowly, but always something new: never stalled.
void Slow(const ArchiveEvents& events, std::atomic<std::uint64_t>& progress) {
  for (int i = 0; i < 30; ++i) {
    progress.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  TellOne(events);
}

TEST(ReaderProcess, StopsAReaderPastItsBoundsAndKeepsWhatItTold) {
  struct Case {
    const char* name;
    void (*work)(const ArchiveEvents&, std::atomic<std::uint64_t>&);
    End end;
    const char* message;
  };
  const Case cases[] = {
      {"memory", Hog, End::kTooMuchMemory, "--archive-max-memory (64 MiB)"},
      {"stall", Sleep, End::kStalled, "it read nothing new for 1 s (--archive-max-stall)"},
      {"crash", Crash, End::kBroken, "signal 6"},
      {"slow", Slow, End::kFinished, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Told told;
    const ArchiveEvents events = Collecting(told);
    const ReaderOutcome outcome = RunReaderProcess({std::uint64_t{64} << 20, 1}, events, {}, c.work);
    EXPECT_EQ(outcome.end, c.end);
    EXPECT_NE(outcome.message.find(c.message), std::string::npos) << outcome.message;
    EXPECT_EQ(told.records, std::vector<std::string>{"lib.so:widget"});
  }
}

TEST(ReaderProcess, DigestsMadeThereFillTheSlotsHere) {
  const auto file = std::make_shared<std::string>();
  Digests known{file};
  Digests member;
  ArchiveEvents events;
  events.on_record = [&](const MemberPath&, const Digests& digests, const zeblix::Record&) {
    member = digests;
  };
  events.on_error = [](const MemberPath&, int, const std::string&) { FAIL(); };
  events.on_scanned = [](const MemberPath&, const Digests&) {};
  const ReaderOutcome outcome = RunReaderProcess(
      {}, events, known, [&](const ArchiveEvents& there, std::atomic<std::uint64_t>&) {
        const auto inner = std::make_shared<std::string>();
        there.on_record({"m"}, {file, inner}, Named("w"));
        *file = "aa";  // filled once each content was read whole, after its records
        *inner = "bb";
      });
  ASSERT_EQ(outcome.end, End::kFinished);
  ASSERT_EQ(member.size(), 2u);
  EXPECT_EQ(member[0], file);  // the slot made here is the one filled
  EXPECT_EQ(*file, "aa");
  EXPECT_EQ(*member[1], "bb");
}

}  // namespace
