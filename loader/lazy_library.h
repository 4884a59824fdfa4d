// A shared library loaded when it is first needed, rather than at the start of every run: a run
// that meets no archive, or keeps no cache, never reads libarchive (and the libraries it needs)
// or SQLite from the disk, which a cold start would pay for in full. The functions the tools call
// are defined here under the library's own names and forward to it; a function of a library that
// cannot be loaded returns 0 or a null pointer, what its library gives for a failure to begin.
#pragma once

#include <mutex>
#include <span>
#include <string>

struct LazySymbol {
  const char* name;
  void** slot;
};

class LazyLibrary {
 public:
  LazyLibrary(const char* soname, std::span<const LazySymbol> symbols)
      : soname_(soname), symbols_(symbols) {}

  // Loads the library and finds every symbol, once; false when either cannot be done.
  bool Load();

 private:
  const char* soname_;
  std::span<const LazySymbol> symbols_;
  std::once_flag once_;
  bool loaded_ = false;
};
