// One SQLite connection, shared by the jobs under a mutex; writes wait in memory and go in one
// transaction a batch. A SQLite file is ours when its header's application ID is.
#include "cache/item_cache.h"

#include <fcntl.h>
#include <link.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "text/words.h"
#include "zeblix/zeblix.h"

namespace {

constexpr int kApplicationId = 0x7a627863;  // "zbxc"
constexpr int kSchema = 1;
constexpr std::size_t kBatch = 512;
constexpr int kBusyMs = 10000;
constexpr std::int64_t kWeekSeconds = 7 * 24 * 60 * 60;
constexpr std::int64_t kNsPerSecond = 1000 * 1000 * 1000;
constexpr char kSqliteMagic[] = "SQLite format 3";
constexpr std::size_t kHeaderSize = 100;
constexpr std::size_t kApplicationIdAt = 68;

constexpr const char* kTables = R"(
CREATE TABLE IF NOT EXISTS settings(id INTEGER PRIMARY KEY, fingerprint BLOB UNIQUE NOT NULL);
CREATE TABLE IF NOT EXISTS files(id INTEGER PRIMARY KEY, setting INTEGER NOT NULL,
  device INTEGER NOT NULL, inode INTEGER NOT NULL, name BLOB NOT NULL, size INTEGER NOT NULL,
  mtime INTEGER NOT NULL, ctime INTEGER NOT NULL, events BLOB NOT NULL, sum INTEGER NOT NULL,
  used INTEGER NOT NULL, UNIQUE(setting, device, inode, name));
CREATE TABLE IF NOT EXISTS layers(id INTEGER PRIMARY KEY, setting INTEGER NOT NULL,
  digest TEXT NOT NULL, events BLOB NOT NULL, sum INTEGER NOT NULL, used INTEGER NOT NULL,
  UNIQUE(setting, digest));
)";

// FNV-1a over the bytes: a kept entry whose bytes were damaged is not taken.
std::int64_t Sum(std::string_view bytes, std::uint64_t seed = 14695981039346656037ull) {
  std::uint64_t sum = seed;
  for (const char c : bytes) sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return static_cast<std::int64_t>(sum);
}

std::int64_t IdentitySum(const FileIdentity& id, std::string_view events) {
  std::string bytes;
  for (const std::int64_t value :
       {static_cast<std::int64_t>(id.device), static_cast<std::int64_t>(id.inode), id.size,
        id.mtime_ns, id.ctime_ns}) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  return Sum(events, static_cast<std::uint64_t>(Sum(bytes)));
}

std::int64_t LayerSum(std::string_view digest, std::string_view events) {
  return Sum(events, static_cast<std::uint64_t>(Sum(digest)));
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  void Reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  Statement& Bind(int at, std::int64_t value) {
    sqlite3_bind_int64(statement_, at, value);
    return *this;
  }
  Statement& Bind(int at, std::string_view bytes) {
    sqlite3_bind_blob64(statement_, at, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE, or an error.
  int Step() { return statement_ == nullptr ? SQLITE_ERROR : sqlite3_step(statement_); }
  std::int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Bytes(int column) const {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, column));
    return data == nullptr ? std::string() : std::string(data, size);
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

// SQLITE_OK, or what went wrong.
int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

std::int64_t Pragma(sqlite3* db, const char* sql) {
  Statement statement(db, sql);
  return statement.Step() == SQLITE_ROW ? statement.Int(0) : -1;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A folder others may write into lets them put links where SQLite makes its files.
std::string UnsafeBecause(const std::string& path) {
  struct stat folder {};
  if (stat(DirectoryOf(path).c_str(), &folder) != 0) return std::strerror(errno);
  if ((folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
      (folder.st_uid != geteuid() && folder.st_uid != 0)) {
    return "its folder may be written by others";
  }
  struct stat file {};
  if (lstat(path.c_str(), &file) != 0) return errno == ENOENT ? "" : std::strerror(errno);
  if (S_ISLNK(file.st_mode)) return "it is a symbolic link";
  if (!S_ISREG(file.st_mode)) return "it is not a regular file";
  if (file.st_uid != geteuid()) return "it belongs to another user";
  return "";
}

enum class Kind { kNone, kOurs, kDamaged, kForeign };

// What lies at `path`: nothing (or an empty file), our cache, one damaged past its header, or a
// file that is not ours.
Kind KindOf(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return Kind::kNone;
  unsigned char header[kHeaderSize] = {};
  const ssize_t got = read(fd, header, sizeof header);
  close(fd);
  if (got == 0) return Kind::kNone;
  if (got < static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, kSqliteMagic, sizeof kSqliteMagic) != 0) {
    return Kind::kForeign;
  }
  int id = 0;
  for (std::size_t i = 0; i < 4; ++i) id = id << 8 | header[kApplicationIdAt + i];
  return id == kApplicationId ? Kind::kOurs : Kind::kForeign;
}

// The GNU build ID in the notes of a loaded object, in hex; empty when it has none.
std::string BuildIdOf(const dl_phdr_info* info) {
  constexpr ElfW(Word) kBuildId = 3;  // NT_GNU_BUILD_ID
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_NOTE) continue;
    const auto* at = reinterpret_cast<const unsigned char*>(info->dlpi_addr + segment.p_vaddr);
    const unsigned char* const end = at + segment.p_memsz;
    while (at + sizeof(ElfW(Nhdr)) <= end) {
      const auto* note = reinterpret_cast<const ElfW(Nhdr)*>(at);
      const unsigned char* name = at + sizeof(ElfW(Nhdr));
      const unsigned char* desc = name + ((note->n_namesz + 3) & ~3u);
      if (desc + note->n_descsz > end) break;
      if (note->n_type == kBuildId && note->n_namesz == 4 && std::memcmp(name, "GNU", 4) == 0) {
        return Hex(std::span(desc, note->n_descsz));
      }
      at = desc + ((note->n_descsz + 3) & ~3u);
    }
  }
  return {};
}

void RemoveCache(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) unlink((path + suffix).c_str());
}

sqlite3* OpenDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyMs);
  return db;
}

}  // namespace


// Closes a connection once its statements are gone.
struct Connection {
  sqlite3* db;
  ~Connection() { sqlite3_close(db); }
};

struct ItemCache::Reader {
  explicit Reader(sqlite3* db)
      : connection{db},
        file(db,
             "SELECT size, mtime, ctime, events, sum, used FROM files"
             " WHERE setting=? AND device=? AND inode=? AND name=?"),
        layer(db, "SELECT events, sum, used FROM layers WHERE setting=? AND digest=?") {}
  Connection connection;
  Statement file;
  Statement layer;
  bool reading = false;
};

namespace {

std::uint64_t KeyHash(std::uint64_t device, std::uint64_t inode, std::string_view name) {
  return static_cast<std::uint64_t>(Sum(name, device * 1099511628211ull ^ inode));
}

}  // namespace

ItemCache::ItemCache(sqlite3* db, const CacheOptions& options)
    : db_(db), options_(options), clock_(options.clock) {
  week_ = clock_() / kNsPerSecond / kWeekSeconds;
}

std::unique_ptr<ItemCache> ItemCache::Open(const CacheOptions& options, std::string& warning) {
  if (const std::string unsafe = UnsafeBecause(options.path); !unsafe.empty()) {
    warning = unsafe + "; scanning without it";
    return nullptr;
  }
  const Kind kind = KindOf(options.path);
  if (kind == Kind::kForeign) {
    warning = "not a zeblix-inventory cache, left as it is; scanning without it";
    return nullptr;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    sqlite3* db = OpenDatabase(options.path);
    if (db == nullptr) {
      warning = "cannot be opened; scanning without it";
      return nullptr;
    }
    std::unique_ptr<ItemCache> cache(new ItemCache(db, options));
    std::string why;
    if (cache->Prepare(why)) return cache;
    cache.reset();
    // Ours, but damaged or of another version: made anew, once.
    warning = why + "; made anew";
    RemoveCache(options.path);
  }
  warning = "cannot be made; scanning without it";
  return nullptr;
}

// A new file is laid out; one laid out before only gets the settings each connection needs.
bool ItemCache::LayOut(std::string& why) {
  const std::int64_t schema = Pragma(db_, "PRAGMA user_version");
  if (schema < 0) {
    why = "damaged";
    return false;
  }
  if (schema != 0 && schema != kSchema) {
    why = "made by another version";
    return false;
  }
  const std::string setup = schema == kSchema
                                ? std::string("PRAGMA synchronous=NORMAL;")
                                // auto_vacuum first: it is fixed once the file is made.
                                : "PRAGMA auto_vacuum=INCREMENTAL; PRAGMA application_id=" +
                                      std::to_string(kApplicationId) +
                                      "; PRAGMA journal_mode=WAL;"
                                      " PRAGMA synchronous=NORMAL; PRAGMA user_version=" +
                                      std::to_string(kSchema) + ";" + kTables;
  if (Exec(db_, setup.c_str()) != SQLITE_OK) why = "damaged";
  return why.empty();
}

// The id of this run's settings, added when they are new.
bool ItemCache::FindSetting() {
  for (int attempt = 0; attempt < 2; ++attempt) {
    Statement find(db_, "SELECT id FROM settings WHERE fingerprint=?");
    if (find.Bind(1, options_.fingerprint).Step() == SQLITE_ROW) {
      setting_ = find.Int(0);
      return true;
    }
    Statement add(db_, "INSERT OR IGNORE INTO settings(fingerprint) VALUES(?)");
    if (add.Bind(1, options_.fingerprint).Step() != SQLITE_DONE) return false;
  }
  return false;
}

bool ItemCache::Prepare(std::string& why) {
  if (!LayOut(why)) return false;
  if (!FindSetting()) {
    why = "damaged";
    return false;
  }
  Statement keys(db_, "SELECT device, inode, name FROM files WHERE setting=?");
  keys.Bind(1, setting_);
  int status;
  while ((status = keys.Step()) == SQLITE_ROW) {
    kept_.push_back(KeyHash(static_cast<std::uint64_t>(keys.Int(0)),
                            static_cast<std::uint64_t>(keys.Int(1)), keys.Bytes(2)));
  }
  std::sort(kept_.begin(), kept_.end());
  auto layers = std::make_shared<std::set<std::string, std::less<>>>();
  Statement known(db_, "SELECT digest FROM layers WHERE setting=?");
  known.Bind(1, setting_);
  while (known.Step() == SQLITE_ROW) layers->insert(known.Bytes(0));
  layers_ = std::move(layers);
  if (status != SQLITE_DONE) why = "damaged";
  return why.empty();
}

ItemCache::~ItemCache() {
  readers_.clear();
  sqlite3_close(db_);
}

ItemCache::Reader* ItemCache::Borrow() {
  std::lock_guard lock(readers_mutex_);
  if (broken_) return nullptr;
  if (idle_.empty()) {
    sqlite3* db = OpenDatabase(options_.path);
    if (db == nullptr) return nullptr;
    readers_.push_back(std::make_unique<Reader>(db));
    idle_.push_back(readers_.back().get());
  }
  Reader* reader = idle_.back();
  idle_.pop_back();
  if (!reader->reading) {
    reader->reading = Exec(reader->connection.db, "BEGIN") == SQLITE_OK;
  }
  return reader;
}

void ItemCache::Return(Reader* reader) {
  std::lock_guard lock(readers_mutex_);
  idle_.push_back(reader);
}

bool ItemCache::Check(int status) {
  if (status == SQLITE_OK || status == SQLITE_ROW || status == SQLITE_DONE) return true;
  std::lock_guard lock(trouble_mutex_);
  if (trouble_.empty()) trouble_ = sqlite3_errstr(status);
  // A damaged file is not read again this run, and is made anew by the next.
  if (status == SQLITE_CORRUPT || status == SQLITE_NOTADB) broken_ = true;
  return false;
}

std::optional<std::string> ItemCache::Lookup(const FileIdentity& id, std::string_view name) {
  if (!std::binary_search(kept_.begin(), kept_.end(), KeyHash(id.device, id.inode, name))) {
    return std::nullopt;
  }
  Reader* reader = Borrow();
  if (reader == nullptr) return std::nullopt;
  Statement& find = reader->file;
  find.Reset();
  find.Bind(1, setting_).Bind(2, static_cast<std::int64_t>(id.device));
  find.Bind(3, static_cast<std::int64_t>(id.inode)).Bind(4, name);
  const int status = find.Step();
  std::optional<std::string> events;
  std::int64_t used = 0;
  if (status == SQLITE_ROW) {
    const FileIdentity kept{id.device, id.inode, find.Int(0), find.Int(1), find.Int(2)};
    if (kept == id) events = find.Bytes(3);
    if (events && IdentitySum(kept, *events) != find.Int(4)) events.reset();
    used = find.Int(5);
  } else {
    Check(status);
  }
  Return(reader);
  if (events && used < week_) Queue({false, id, std::string(name), {}, true});
  return events;
}

void ItemCache::Store(const FileIdentity& id, std::string_view name, std::string events,
                      std::int64_t read_at) {
  if (std::max(id.mtime_ns, id.ctime_ns) + kRacyNs >= read_at) return;
  Queue({false, id, std::string(name), std::move(events)});
}

void ItemCache::Queue(Pending entry) {
  std::lock_guard lock(mutex_);
  pending_.push_back(std::move(entry));
  if (pending_.size() >= kBatch) Flush();
}

std::shared_ptr<const std::set<std::string, std::less<>>> ItemCache::KnownLayers() {
  std::lock_guard lock(mutex_);
  return layers_;
}

std::optional<std::string> ItemCache::Layer(std::string_view digest) {
  Reader* reader = Borrow();
  if (reader == nullptr) return std::nullopt;
  Statement& find = reader->layer;
  find.Reset();
  find.Bind(1, setting_).Bind(2, digest);
  const int status = find.Step();
  std::optional<std::string> events;
  std::int64_t used = 0;
  if (status == SQLITE_ROW) {
    events = find.Bytes(0);
    if (LayerSum(digest, *events) != find.Int(1)) events.reset();
    used = find.Int(2);
  } else {
    Check(status);
  }
  Return(reader);
  if (events && used < week_) Queue({true, {}, std::string(digest), {}, true});
  return events;
}

void ItemCache::StoreLayer(std::string digest, std::string events) {
  {
    std::lock_guard lock(mutex_);
    auto layers = std::make_shared<std::set<std::string, std::less<>>>(*layers_);
    layers->insert(digest);
    layers_ = std::move(layers);
  }
  Queue({true, {}, std::move(digest), std::move(events)});
}

namespace {

// Binds a waiting write to its statement: an entry's key, then its contents, or the week it was
// used in.
Statement& Bind(Statement& statement, const ItemCache::Pending& entry, std::int64_t setting,
                std::int64_t week) {
  int at = 1;
  if (entry.touch_only) statement.Bind(at++, week);
  statement.Bind(at++, setting);
  if (entry.layer) {
    statement.Bind(at++, entry.name);
    if (entry.touch_only) return statement;
    return statement.Bind(at, entry.events)
        .Bind(at + 1, LayerSum(entry.name, entry.events))
        .Bind(at + 2, week);
  }
  const FileIdentity& id = entry.identity;
  statement.Bind(at, static_cast<std::int64_t>(id.device))
      .Bind(at + 1, static_cast<std::int64_t>(id.inode))
      .Bind(at + 2, entry.name);
  if (entry.touch_only) return statement;
  return statement.Bind(at + 3, id.size)
      .Bind(at + 4, id.mtime_ns)
      .Bind(at + 5, id.ctime_ns)
      .Bind(at + 6, entry.events)
      .Bind(at + 7, IdentitySum(id, entry.events))
      .Bind(at + 8, week);
}

}  // namespace

// Called with the mutex held. A batch that cannot be written (another run holds the file past
// the wait, a full disk) is left out: the cache only lacks it.
void ItemCache::Flush() {
  std::vector<Pending> batch = std::move(pending_);
  pending_.clear();
  if (broken_ || batch.empty() || !Check(Exec(db_, "BEGIN IMMEDIATE"))) return;
  Statement file(db_,
                 "INSERT OR REPLACE INTO files(setting, device, inode, name, size, mtime, ctime,"
                 " events, sum, used) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement layer(db_,
                  "INSERT OR REPLACE INTO layers(setting, digest, events, sum, used)"
                  " VALUES(?, ?, ?, ?, ?)");
  Statement touch_file(
      db_, "UPDATE files SET used=? WHERE setting=? AND device=? AND inode=? AND name=?");
  Statement touch_layer(db_, "UPDATE layers SET used=? WHERE setting=? AND digest=?");
  bool written = true;
  for (const Pending& entry : batch) {
    Statement& statement = entry.layer ? (entry.touch_only ? touch_layer : layer)
                                       : (entry.touch_only ? touch_file : file);
    statement.Reset();
    written = written && Check(Bind(statement, entry, setting_, week_).Step());
  }
  written = written && Check(Exec(db_, "COMMIT"));
  if (!written) Exec(db_, "ROLLBACK");
  wrote_ = wrote_ || written;
}


std::string ItemCache::Finish() {
  {
    std::lock_guard lock(readers_mutex_);
    idle_.clear();
    readers_.clear();  // their read transactions end with them
  }
  std::lock_guard lock(mutex_);
  Flush();
  // A run that wrote nothing added nothing: what it would drop waits for one that does.
  if (!broken_ && wrote_) Forget();
  if (broken_) RemoveCache(options_.path);
  std::lock_guard trouble(trouble_mutex_);
  return trouble_;
}

// Drops the entries not used for weeks, then, past the bound, the least used.
void ItemCache::Forget() {
  const std::string stale = std::to_string(week_ - kKeptWeeks);
  Check(Exec(db_, ("DELETE FROM files WHERE used < " + stale).c_str()));
  Check(Exec(db_, ("DELETE FROM layers WHERE used < " + stale).c_str()));
  const std::int64_t page = Pragma(db_, "PRAGMA page_size");
  for (int round = 0; round < 8; ++round) {
    const std::int64_t used =
        Pragma(db_, "PRAGMA page_count") - Pragma(db_, "PRAGMA freelist_count");
    if (page <= 0 || used * page <= static_cast<std::int64_t>(options_.max_bytes)) break;
    Check(Exec(db_,
               "DELETE FROM files WHERE id IN (SELECT id FROM files ORDER BY used, id"
               " LIMIT (SELECT count(*) / 4 + 1 FROM files));"
               "DELETE FROM layers WHERE id IN (SELECT id FROM layers ORDER BY used, id"
               " LIMIT (SELECT count(*) / 4 + 1 FROM layers));"));
  }
  Exec(db_, "PRAGMA incremental_vacuum");
}

std::string EngineBuild() {
  std::string build;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* out) -> int {
        const auto here = reinterpret_cast<ElfW(Addr)>(&EngineBuild);
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          const ElfW(Addr) start = info->dlpi_addr + segment.p_vaddr;
          const bool holds_this = here >= start && here < start + segment.p_memsz;
          if (segment.p_type != PT_LOAD || !holds_this) continue;
          *static_cast<std::string*>(out) = BuildIdOf(info);
          return 1;
        }
        return 0;
      },
      &build);
  return std::string(ZEBLIX_VERSION_STRING) + "/" + (build.empty() ? "no-build-id" : build);
}
