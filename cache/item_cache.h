// What earlier runs learnt, kept in one SQLite file (zeblix-inventory --cache): for each regular
// file read whole, its identity and the events its scan told; for each image layer, the events
// of its contents, by the digest of its bytes. A file whose identity is the one kept is told
// again from the cache without being opened. The events are those of the scan, not lines, so
// what is written from them is what a scan without the cache writes.
//
// The cache cannot hurt: a file that is not one is never written to; a damaged one, or one made
// by another version, is made anew; two runs may share one; a run killed at any moment leaves it
// whole (SQLite's write-ahead log); what cannot be written is left out, never half written.
#pragma once

#include <cstdint>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

// A file as the system tells it, changed or not: any change of its bytes changes its ctime.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct CacheOptions {
  std::string path;
  // What the events depend on besides the file: the engine's build, and the options of the scan.
  std::string fingerprint;
  std::uint64_t max_bytes = std::uint64_t{1} << 30;
  // Now, in nanoseconds since the epoch, on the clock file times are told by.
  std::function<std::int64_t()> clock;
};

class ItemCache {
 public:
  // A file changed this close to the moment its identity was taken may change again without its
  // times showing it (their granularity, the clock's ticks): it is read again next time.
  static constexpr std::int64_t kRacyNs = std::int64_t{2} * 1000 * 1000 * 1000;
  // Entries not used for this many weeks are dropped.
  static constexpr std::int64_t kKeptWeeks = 4;

  // The cache at options.path, made when there is none; nullptr, with a one-line `warning`, when
  // it cannot be used safely (the run then goes on without it).
  static std::unique_ptr<ItemCache> Open(const CacheOptions& options, std::string& warning);
  ~ItemCache();
  ItemCache(const ItemCache&) = delete;
  ItemCache& operator=(const ItemCache&) = delete;

  // The events kept for the file `name` when its identity is the one kept. Any thread.
  std::optional<std::string> Lookup(const FileIdentity& identity, std::string_view name);
  // Keeps the events of a file read whole, whose identity was taken at `read_at` (before its
  // first byte was read); a file changed within kRacyNs of that is not kept.
  void Store(const FileIdentity& identity, std::string_view name, std::string events,
             std::int64_t read_at);

  // The digests of the layers kept, at this moment.
  std::shared_ptr<const std::set<std::string, std::less<>>> KnownLayers();
  std::optional<std::string> Layer(std::string_view digest);
  void StoreLayer(std::string digest, std::string events);

  std::int64_t Now() const { return clock_(); }
  // What went wrong in the run, for one warning at its end; empty when nothing did.
  std::string Finish();

  // A write waiting for the next batch.
  struct Pending {
    bool layer = false;
    FileIdentity identity = {};
    std::string name = {};  // the file's, or the layer's digest
    std::string events = {};
    bool touch_only = false;  // an entry used again: its week is moved on
  };

 private:
  // A connection of its own for each job that reads, in one read transaction: lookups take no
  // lock of the file's each, and jobs read at once.
  struct Reader;
  ItemCache(sqlite3* db, const CacheOptions& options);
  Reader* Borrow();
  void Return(Reader* reader);
  bool Prepare(std::string& warning);
  bool LayOut(std::string& why);
  bool FindSetting();
  // Keeps a write for the next batch, writing the batch once it is full.
  void Queue(Pending entry);
  void Flush();

  void Forget();
  bool Check(int status);

  sqlite3* db_;  // the one that writes, under the mutex
  std::mutex readers_mutex_;
  std::vector<std::unique_ptr<Reader>> readers_;
  std::vector<Reader*> idle_;
  // A hash of each file entry's key, sorted: most files of a first run are not looked up.
  std::vector<std::uint64_t> kept_;
  CacheOptions options_;
  std::function<std::int64_t()> clock_;
  std::int64_t setting_ = 0;
  std::int64_t week_ = 0;
  std::mutex mutex_;
  std::vector<Pending> pending_;
  std::shared_ptr<const std::set<std::string, std::less<>>> layers_;
  std::mutex trouble_mutex_;
  std::string trouble_;  // the first thing that went wrong
  std::atomic<bool> broken_ = false;  // no more reads or writes this run
  bool wrote_ = false;  // a batch was written
};

// The build of the code that scans (its GNU build ID), so that events one build kept are never
// taken by another; the version alone where the binary has none.
std::string EngineBuild();
