#include "loader/lazy_library.h"

#include <dlfcn.h>

bool LazyLibrary::Load() {
  std::call_once(once_, [&] {
    // Every symbol is bound now, not at its first call: a reader's process forked later finds
    // the library whole and never runs the loader.
    void* handle = dlopen(soname_, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    for (const LazySymbol& symbol : symbols_) {
      *symbol.slot = dlsym(handle, symbol.name);
      if (*symbol.slot == nullptr) return;
    }
    loaded_ = true;
  });
  return loaded_;
}
