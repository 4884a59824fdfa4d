// The words of a scan inside packages, archives and images, shared by the scan and the streams,
// processes and views it is made of: what a file may cost (ArchiveLimits), how it is read
// (FileOptions), where a line lies (MemberPath) and the digests around it, and what a scan tells
// (ArchiveEvents).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "archive/identity.h"
#include "zeblix/scan.h"

// The copy a fork makes holds, locked, every lock another thread held at that moment, and a
// library's (OpenSSL's, gettext's, iconv's) are never unlocked there: a copy that takes one waits
// for ever. So the threads of a run hold the gate while they scan in this process, and a reader's
// process is forked only when none does.
class ForkGate {
 public:
  // Into scanning here; waits while a fork waits.
  void Enter();
  void Leave();
  // Forks alone: the calling thread, inside, leaves; `make_copy` runs once no thread is inside.
  // The caller enters again when it scans here again.
  int Alone(const std::function<int()>& make_copy);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int inside_ = 0;
  int forks_waiting_ = 0;
};

// Holds a gate (when there is one) for a scope.
class InsideGate {
 public:
  explicit InsideGate(ForkGate* gate) : gate_(gate) {
    if (gate_ != nullptr) gate_->Enter();
  }
  ~InsideGate() {
    if (gate_ != nullptr) gate_->Leave();
  }
  InsideGate(const InsideGate&) = delete;
  InsideGate& operator=(const InsideGate&) = delete;

 private:
  ForkGate* gate_;
};

struct ArchiveLimits {
  // Archives opened one inside another, the file itself counting as the first.
  int depth = 6;
  // Bytes decompression may give (compressed streams, and zip and 7-Zip members), at every depth
  // together.
  std::uint64_t max_bytes = std::uint64_t{64} << 30;
  // Bytes decompressed per byte read from the disk, judged once kRatioFrom bytes have expanded;
  // 0 leaves the ratio unbounded.
  std::uint64_t max_ratio = 1000;
  static constexpr std::uint64_t kRatioFrom = std::uint64_t{64} << 20;
  // Memory the reading of one file may take beyond what the process held before; a decompressor
  // may take half of it, and a stream whose header asks for more is an error.
  std::uint64_t max_memory = std::uint64_t{1} << 30;
  std::uint64_t DecoderMemory() const { return max_memory / 2; }
  // A file that looks packed is read in a process of its own, stopped past max_memory, or once it
  // has read nothing for this long.
  bool own_process = true;
  int most_stalled_seconds = 60;
  // Set from any thread, ends every scan under way, within a tenth of a second, with ECANCELED.
  const std::atomic<bool>* cancel = nullptr;
  // The run's gate, which the thread scanning is inside; none: the run has one thread.
  ForkGate* fork_gate = nullptr;
};

// How a file is read. `layer`: it is an image's layer, whose archive's entries are told
// (on_entry). `waits`: it is a pipe or device the user named, which is waited on for its bytes
// (a FIFO for its writer) as long as it takes, or until cancelled.
struct FileOptions {
  bool layer = false;
  bool waits = false;
};

// The names of the members a record lies in, from the outermost archive inward; empty for the
// file's own bytes. A file that is only compressed is an archive of one member, named as gunzip
// would name it.
using MemberPath = std::vector<std::string>;

// The SHA-256 (or other) digests of what a line lies in, each as it is stored: the file's first,
// then one for each name of its MemberPath. Each is filled in once its bytes have all been read,
// so a line's digests are whole when the scan of its file has returned; one that could not be
// made stays empty. No digests at all when none were asked for.
using Digests = std::vector<std::shared_ptr<std::string>>;

// Takes the bytes of one content in order and gives their digest in lower-case hex.
class ContentDigest {
 public:
  virtual ~ContentDigest() = default;
  virtual void Add(std::span<const std::uint8_t> bytes) = 0;
  virtual std::string Finish() = 0;
  // Forgets every byte added, to begin again.
  virtual void Reset() = 0;
};

// What a scan tells as it goes. The bytes of the file itself, or of one member, are scanned as
// one content: its records, then on_scanned once it was read whole (or on_error). Nothing is told
// twice, and every content (and every archive that yields no content) is told at least once.
struct ArchiveEvents {
  std::function<void(const MemberPath&, const Digests&, const zeblix::Record&)> on_record;
  // A member, or the archive itself, that could not be read, with errno and a message; the rest
  // of the archive goes on where it can.
  std::function<void(const MemberPath&, int error, const std::string& message)> on_error;
  std::function<void(const MemberPath&, const Digests&)> on_scanned;
  // Optional: a digest for every file and member; without it, Digests stay empty.
  std::function<std::unique_ptr<ContentDigest>()> new_digest;
  // Optional: each package and image met, once its bookkeeping has been read (which may be after
  // the records inside it: a saved image's manifest often comes last), with the digests of what
  // it lies in as for a record; a package or image whose bookkeeping does not read is an error
  // instead. Without it, bookkeeping is not looked for.
  std::function<void(const Holder&, const Digests&)> on_holder;
  // Optional: every entry of an archive that may be an image's layer (a member named as image
  // tools name layers), directories, links and whiteouts too, with the member path of the layer's
  // archive; what a later layer deletes or hides is judged from them.
  enum class EntryKind : std::uint8_t { kFile, kDirectory, kOther };
  std::function<void(const MemberPath& archive, const std::string& name, EntryKind kind)> on_entry;

  // Optional, for an asker that keeps what image layers hold (by the digest of a layer's bytes as
  // stored, which image tools name it by): check_digest makes such digests (SHA-256, in hex).
  std::function<std::unique_ptr<ContentDigest>()> check_digest = nullptr;
  // A layer the asker knows ("sha256:<hex>") is not scanned: its bytes are only read through
  // check_digest, and on_known tells it with its digest, or with none when its bytes are not
  // what its name says.
  std::function<bool(std::string_view digest)> knows = nullptr;
  std::function<void(const MemberPath& member, const Digests& digests, const std::string& digest)>
      on_known = nullptr;
  // Any other layer is scanned, and then its digest told, so that the asker may keep its events.
  std::function<void(const MemberPath& member, const std::string& digest)> on_layer_digest =
      nullptr;
};
