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

// Defines, for each function a list names (LIST(X) calls X(result, name, parameters, arguments)),
// a pointer found in `soname` when first needed and the function itself under its own name,
// forwarding to it. The file that uses it defines `template <typename R> R Unloaded()`: what a
// function gives when the library cannot be loaded.
#define ZEBLIX_LAZY_POINTER(result, name, parameters, arguments) \
  result(*name) parameters = nullptr;
#define ZEBLIX_LAZY_SYMBOL(result, name, parameters, arguments) \
  {#name, reinterpret_cast<void**>(&functions.name)},
#define ZEBLIX_LAZY_FORWARD(result, name, parameters, arguments) \
  result name parameters {                                       \
    if (library.Load()) return functions.name arguments;         \
    return Unloaded<result>();                                   \
  }
#define ZEBLIX_LAZY_LIBRARY(soname, LIST)                            \
  namespace {                                                        \
  struct Functions {                                                 \
    LIST(ZEBLIX_LAZY_POINTER)                                        \
  } functions;                                                       \
  const LazySymbol kSymbols[] = {LIST(ZEBLIX_LAZY_SYMBOL)};          \
  LazyLibrary library(soname, kSymbols);                             \
  }                                                                  \
  extern "C" {                                                       \
  LIST(ZEBLIX_LAZY_FORWARD)                                          \
  }
