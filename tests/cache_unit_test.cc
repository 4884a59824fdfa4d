// The cache's parts on their own: the events a scan keeps and tells again, the cache's rules for
// what it keeps and gives back, the gate forks pass, and a library loaded when first needed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "archive/event_wire.h"
#include "cache/item_cache.h"
#include "loader/lazy_library.h"

namespace {

// What a scan tells, as text: one line an event.
struct Told {
  std::vector<std::string> lines;
  ArchiveEvents Events() {
    const auto join = [](const MemberPath& path, const Digests& digests) {
      std::string text;
      for (const std::string& name : path) text += "/" + name;
      for (const auto& digest : digests) text += " #" + *digest;
      return text;
    };
    return {[this, join](const MemberPath& m, const Digests& d, const zeblix::Record& r) {
              lines.push_back("record" + join(m, d) + " " + r.product_name);
            },
            [this, join](const MemberPath& m, int error, const std::string& message) {
              lines.push_back("error" + join(m, {}) + " " + std::to_string(error) + message);
            },
            [this, join](const MemberPath& m, const Digests& d) { lines.push_back("scanned" + join(m, d)); },
            nullptr,
            [this, join](const Holder& h, const Digests& d) { lines.push_back("holder" + join(h.where, d)); },
            [this, join](const MemberPath& m, const std::string& name, ArchiveEvents::EntryKind) {
              lines.push_back("entry" + join(m, {}) + " " + name);
            }};
  }
};

Digests Slots(std::vector<std::string> values) {
  Digests digests;
  for (std::string& value : values) digests.push_back(std::make_shared<std::string>(value));
  return digests;
}

// A scan of an image holding a layer holding a package, recorded.
EventLog Recorded(Told& told) {
  EventLog log;
  const ArchiveEvents events = log.Recording(told.Events());
  zeblix::Record record;
  record.product_name = "widget";
  events.on_entry({"image.tar", "layer"}, "usr/lib/w.so", ArchiveEvents::EntryKind::kFile);
  events.on_record({"image.tar", "layer", "usr/lib/w.so"}, Slots({"f", "i", "l", "w"}), record);
  events.on_scanned({"image.tar", "layer", "usr/lib/w.so"}, Slots({"f", "i", "l", "w"}));
  Holder package;
  package.package.emplace();
  package.where = {"image.tar", "layer", "p.deb"};
  events.on_holder(package, Slots({"f", "i", "l", "p"}));
  events.on_scanned({"other"}, Slots({"f", "o"}));
  return log;
}

TEST(EventLog, KeptEventsAreToldAgainUnderAnyRoot) {
  Told first;
  const EventLog log = Recorded(first);
  EXPECT_EQ(first.lines.size(), 5u);
  EventLog read;
  const std::string bytes = log.Bytes();
  ASSERT_TRUE(read.Read(bytes));
  Told again;
  read.Tell(again.Events());
  EXPECT_EQ(again.lines, first.lines);
  // The layer alone, told inside another image: its paths below the new root, the root's digests
  // first.
  const std::string layer = log.Bytes({"image.tar", "layer"});
  EventLog moved;
  ASSERT_TRUE(moved.Read(layer));
  Told elsewhere;
  moved.Tell(elsewhere.Events(), {"b.tar", "blob"}, Slots({"F", "B", "L"}));
  EXPECT_EQ(elsewhere.lines,
            (std::vector<std::string>{"entry/b.tar/blob usr/lib/w.so",
                                      "record/b.tar/blob/usr/lib/w.so #F #B #L #w widget",
                                      "scanned/b.tar/blob/usr/lib/w.so #F #B #L #w",
                                      "holder/b.tar/blob/p.deb #F #B #L #p"}));
}

TEST(EventLog, BytesCutShortOrFollowedReadAsNothing) {
  Told told;
  const std::string bytes = Recorded(told).Bytes();
  for (const std::string& damaged : {bytes.substr(0, bytes.size() - 1), bytes + "x",
                                     bytes.substr(0, bytes.size() / 2), std::string("\xff\xff")}) {
    EventLog read;
    EXPECT_FALSE(read.Read(damaged));
  }
  EventLog errors;
  errors.Recording(told.Events()).on_error({"a", "b"}, 5, "bad");
  EXPECT_TRUE(errors.HasErrors({"a"}));
  EXPECT_FALSE(errors.HasErrors({"c"}));
}

class Cache : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() / ("zeblix-cache-unit-" + std::to_string(getpid()));
    std::filesystem::create_directory(folder_);
    std::filesystem::permissions(folder_, std::filesystem::perms::owner_all);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::unique_ptr<ItemCache> Open(std::int64_t now, std::uint64_t max_bytes = 1 << 30) {
    std::string warning;
    auto cache = ItemCache::Open({(folder_ / "c.db").string(), "test", max_bytes, [now] { return now; }},
                                 warning);
    EXPECT_EQ(warning, "");
    return cache;
  }

  std::filesystem::path folder_;
};

constexpr std::int64_t kSecond = 1000 * 1000 * 1000;

TEST_F(Cache, KeepsWhatSettledAndGivesItBackForTheSameIdentityOnly) {
  const FileIdentity id{1, 2, 3, 10 * kSecond, 20 * kSecond};
  {
    auto cache = Open(100 * kSecond);
    cache->Store(id, "a.so", "events", 100 * kSecond);
    cache->Store({1, 3, 3, 10 * kSecond, 99 * kSecond}, "racy.so", "events", 100 * kSecond);
    EXPECT_EQ(cache->Finish(), "");
  }
  auto cache = Open(200 * kSecond);
  EXPECT_EQ(cache->Lookup(id, "a.so"), "events");
  const FileIdentity changed[] = {{1, 2, 4, 10 * kSecond, 20 * kSecond},
                                  {1, 2, 3, 11 * kSecond, 20 * kSecond},
                                  {1, 2, 3, 10 * kSecond, 21 * kSecond},
                                  {9, 2, 3, 10 * kSecond, 20 * kSecond}};
  for (const FileIdentity& other : changed) EXPECT_EQ(cache->Lookup(other, "a.so"), std::nullopt);
  EXPECT_EQ(cache->Lookup(id, "b.so"), std::nullopt);
  EXPECT_EQ(cache->Lookup({1, 3, 3, 10 * kSecond, 99 * kSecond}, "racy.so"), std::nullopt);
}

TEST_F(Cache, EntriesUnusedForFourWeeksAreDroppedByARunThatWrites) {
  constexpr std::int64_t kWeek = 7 * 24 * 3600 * kSecond;
  const std::int64_t start = 1000 * kWeek;
  const FileIdentity used{1, 1, 1, 0, 0}, unused{1, 2, 1, 0, 0};
  const auto run = [&](std::int64_t now, const std::optional<FileIdentity>& looked_up) {
    auto cache = Open(now);
    if (looked_up) cache->Lookup(*looked_up, "f");
    cache->Store({9, static_cast<std::uint64_t>(now / kWeek), 1, 0, 0}, "new", "x", now);
    cache->Finish();
  };
  {
    auto cache = Open(start);
    cache->Store(used, "f", "kept", start);
    cache->Store(unused, "f", "kept", start);
    cache->Finish();
  }
  run(start + 3 * kWeek, used);  // a use moves its week on
  run(start + 5 * kWeek, std::nullopt);
  auto cache = Open(start + 5 * kWeek);
  EXPECT_EQ(cache->Lookup(used, "f"), "kept");
  EXPECT_EQ(cache->Lookup(unused, "f"), std::nullopt);
}

TEST_F(Cache, LayersAreKnownByDigestAndTheBoundHolds) {
  {
    auto cache = Open(100 * kSecond);
    cache->StoreLayer("sha256:aa", "layer events");
    EXPECT_EQ(cache->KnownLayers()->count("sha256:aa"), 1u);
    for (std::uint64_t i = 0; i < 3000; ++i) {
      cache->Store({1, i, 1, 0, 0}, "f", std::string(1000, 'x'), 100 * kSecond);
    }
    cache->Finish();
  }
  {
    auto cache = Open(100 * kSecond, std::uint64_t{1} << 20);
    EXPECT_EQ(cache->Layer("sha256:aa"), "layer events");
    cache->Store({2, 1, 1, 0, 0}, "g", "x", 100 * kSecond);  // a run that writes forgets
    cache->Finish();
  }
  EXPECT_LE(std::filesystem::file_size(folder_ / "c.db"), std::uintmax_t{3} << 19);
  auto cache = Open(100 * kSecond);
  int kept = 0;
  for (std::uint64_t i = 0; i < 3000; ++i) kept += cache->Lookup({1, i, 1, 0, 0}, "f").has_value();
  EXPECT_LT(kept, 1100);  // a megabyte holds about a thousand of them
}

TEST(ForkGate, AForkWaitsForTheThreadsInsideAndNewOnesWaitForIt) {
  ForkGate gate;
  std::atomic<int> inside{0};
  std::atomic<bool> forked{false};
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const InsideGate hold(&gate);
        ++inside;
        if (forked) overlapped = true;
        --inside;
      }
    });
  }
  gate.Enter();
  for (int i = 0; i < 20; ++i) {
    const int pid = gate.Alone([&] {
      forked = true;
      if (inside != 0) overlapped = true;
      const pid_t child = fork();
      if (child == 0) _exit(0);
      forked = false;
      return child;
    });
    waitpid(pid, nullptr, 0);
    gate.Enter();
  }
  gate.Leave();
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
}

TEST(LazyLibrary, ALibraryThatIsNotThereIsNotLoaded) {
  void* slot = nullptr;
  const LazySymbol symbols[] = {{"zlibVersion", &slot}};
  LazyLibrary missing("libzeblix-does-not-exist.so.0", symbols);
  EXPECT_FALSE(missing.Load());
  LazyLibrary zlib("libz.so.1", symbols);
  EXPECT_TRUE(zlib.Load());
  EXPECT_NE(slot, nullptr);
  const LazySymbol absent[] = {{"no_such_function_here", &slot}};
  LazyLibrary without("libz.so.1", absent);
  EXPECT_FALSE(without.Load());
}

}  // namespace
