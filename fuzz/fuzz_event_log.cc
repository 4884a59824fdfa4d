// Fuzz entry: any bytes as a cache's kept events. They must read whole or not at all; what reads
// is told under a root without a crash, and written again gives the same bytes.
#include <cstdint>
#include <span>
#include <string>

#include "archive/event_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EventLog log;
  if (!log.Read({reinterpret_cast<const char*>(data), size})) return 0;
  ArchiveEvents told{[](const MemberPath&, const Digests&, const zeblix::Record&) {},
                     [](const MemberPath&, int, const std::string&) {},
                     [](const MemberPath&, const Digests&) {},
                     nullptr,
                     [](const Holder&, const Digests&) {},
                     [](const MemberPath&, const std::string&, ArchiveEvents::EntryKind) {}};
  log.Tell(told, {"layer.tar"}, {std::make_shared<std::string>("00")});
  EventLog again;
  told = again.Recording(told);
  log.Tell(told);
  if (again.Bytes() != log.Bytes()) __builtin_trap();
  return 0;
}
