// SQLite, loaded when first needed: by a run with --cache.
#include <sqlite3.h>

#include <type_traits>

#include "loader/lazy_library.h"

// clang-format off
#define ZEBLIX_SQLITE(X) \
  X(int, sqlite3_bind_blob64, \
    (sqlite3_stmt* p0, int p1, const void* p2, sqlite3_uint64 p3, void (*p4)(void*)), \
    (p0, p1, p2, p3, p4)) \
  X(int, sqlite3_bind_int64, (sqlite3_stmt* p0, int p1, sqlite3_int64 p2), (p0, p1, p2)) \
  X(int, sqlite3_busy_timeout, (sqlite3* p0, int p1), (p0, p1)) \
  X(int, sqlite3_clear_bindings, (sqlite3_stmt* p0), (p0)) \
  X(int, sqlite3_close, (sqlite3* p0), (p0)) \
  X(const void*, sqlite3_column_blob, (sqlite3_stmt* p0, int p1), (p0, p1)) \
  X(int, sqlite3_column_bytes, (sqlite3_stmt* p0, int p1), (p0, p1)) \
  X(sqlite3_int64, sqlite3_column_int64, (sqlite3_stmt* p0, int p1), (p0, p1)) \
  X(const char*, sqlite3_errstr, (int p0), (p0)) \
  X(int, sqlite3_exec, \
    (sqlite3* p0, const char* p1, int (*p2)(void*, int, char**, char**), void* p3, char** p4), \
    (p0, p1, p2, p3, p4)) \
  X(int, sqlite3_finalize, (sqlite3_stmt* p0), (p0)) \
  X(int, sqlite3_open_v2, (const char* p0, sqlite3** p1, int p2, const char* p3), \
    (p0, p1, p2, p3)) \
  X(int, sqlite3_prepare_v2, \
    (sqlite3* p0, const char* p1, int p2, sqlite3_stmt** p3, const char** p4), \
    (p0, p1, p2, p3, p4)) \
  X(int, sqlite3_reset, (sqlite3_stmt* p0), (p0)) \
  X(int, sqlite3_step, (sqlite3_stmt* p0), (p0))
// clang-format on

namespace {

// What a function of SQLite gives when SQLite cannot be loaded: the open fails, and nothing
// else is called.
template <typename Result>
Result Unloaded() {
  if constexpr (std::is_same_v<Result, int>) {
    return SQLITE_CANTOPEN;
  } else {
    return static_cast<Result>(0);
  }
}

}  // namespace

ZEBLIX_LAZY_LIBRARY("libsqlite3.so.0", ZEBLIX_SQLITE)
