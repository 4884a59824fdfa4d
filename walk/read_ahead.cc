// Hints are open, posix_fadvise(WILLNEED), close: queued on an io_uring as three linked requests on
// a descriptor of the ring's own, or made in turn. A directory entry listed as a regular file is
// opened without looking first; any other that may lead to one (a symbolic link, or an entry of
// unknown type) is looked at first, so that no device is ever opened, and a FIFO that replaced a
// file since the listing is opened without blocking.
#include "walk/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "walk/submission_ring.h"

namespace {

constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Whether an entry of this type may be a regular file once looked at.
bool NeedsALook(unsigned char type) {
  return type == DT_LNK || type == DT_UNKNOWN;
}

}  // namespace

// The files asked for on the ring, each in a slot that is also its descriptor's on the ring: a
// look at its type (when its listing did not tell), then open, advise, close. A slot is free again
// once all its requests have completed.
class ReadAhead::Queue {
 public:
  explicit Queue(std::unique_ptr<SubmissionRing> ring) : ring_(std::move(ring)) {
    for (unsigned slot = kFiles; slot-- > 0;) free_.push_back(slot);
  }
  ~Queue() {
    // The kernel may still write a look's result into a slot: wait for every request.
    while (free_.size() < kFiles && Wait()) {
    }
  }

  // The kernel refused the ring; the hints are made in turn from now on.
  bool broken() const { return broken_; }

  void Hint(int dir_fd, const char* name, unsigned char type) {
    if (type != DT_REG && !NeedsALook(type)) return;
    Reap();
    while (free_.empty()) {
      if (!Wait()) return;
    }
    // Submissions the kernel has not taken yet (it could not, for now): this hint is let go.
    if (ring_->Room() < kMostRequests) return;
    const unsigned slot = free_.back();
    free_.pop_back();
    slots_[slot].dir_fd = dir_fd;
    slots_[slot].name = name;
    if (type == DT_REG) {
      QueueOpen(slot);
    } else {
      QueueLook(slot);
    }
    // Batched once the disk has enough to do; at once while it has little.
    const unsigned in_flight = kFiles - static_cast<unsigned>(free_.size()) - ++unsubmitted_;
    if (unsubmitted_ >= kBatch || in_flight < kBatch) Flush();
  }

  void Release(int dir_fd) {
    Flush();
    Reap();
    for (unsigned slot = 0; slot < kFiles; ++slot) {
      while (slots_[slot].naming && slots_[slot].dir_fd == dir_fd) {
        if (!Wait()) return;
      }
    }
  }

 private:
  enum Step : std::uint64_t { kLook, kOpen, kAdvise, kClose };
  static constexpr std::uint64_t kStepBits = 2;
  static constexpr unsigned kMostRequests = 4;  // a slot's: a look, then open, advise and close
  // Hints go to the kernel in batches, one system call for so many files, while the disk has as
  // many still to do: the walk keeps kFiles asked for.
  static constexpr unsigned kBatch = 16;

  struct Slot {
    int dir_fd = -1;
    std::string name;
    struct statx status {};
    unsigned pending = 0;  // requests not yet completed
    bool naming = false;   // a request still resolves the name in dir_fd
  };

  io_uring_sqe* Request(unsigned slot, Step step) {
    io_uring_sqe* sqe = ring_->Next();
    sqe->user_data = std::uint64_t{slot} << kStepBits | step;
    ++slots_[slot].pending;
    return sqe;
  }

  // A request on the slot's name, resolved in its directory.
  io_uring_sqe* NamedRequest(unsigned slot, Step step, std::uint8_t opcode) {
    Slot& s = slots_[slot];
    io_uring_sqe* sqe = Request(slot, step);
    sqe->opcode = opcode;
    sqe->fd = s.dir_fd;
    sqe->addr = reinterpret_cast<std::uintptr_t>(s.name.c_str());
    s.naming = true;
    return sqe;
  }

  void QueueLook(unsigned slot) {
    io_uring_sqe* look = NamedRequest(slot, kLook, IORING_OP_STATX);
    look->len = STATX_TYPE;
    look->off = reinterpret_cast<std::uintptr_t>(&slots_[slot].status);
  }

  // Open into the slot's descriptor, then advise on it even if nothing else, then close it.
  void QueueOpen(unsigned slot) {
    io_uring_sqe* open = NamedRequest(slot, kOpen, IORING_OP_OPENAT);
    open->open_flags = kOpenFlags & ~O_CLOEXEC;  // a ring's own descriptor is never inherited
    open->file_index = slot + 1;
    open->flags = IOSQE_IO_LINK;
    io_uring_sqe* advise = Request(slot, kAdvise);
    advise->opcode = IORING_OP_FADVISE;
    advise->fd = static_cast<int>(slot);
    advise->len = static_cast<std::uint32_t>(kHintBytes);
    advise->fadvise_advice = POSIX_FADV_WILLNEED;
    advise->flags = IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    io_uring_sqe* close = Request(slot, kClose);
    close->opcode = IORING_OP_CLOSE;
    close->file_index = slot + 1;
  }

  void Completed(unsigned slot, Step step, int result) {
    Slot& s = slots_[slot];
    --s.pending;
    if (step == kLook || step == kOpen) s.naming = false;
    if (step == kLook && result == 0 && S_ISREG(s.status.stx_mode) &&
        ring_->Room() >= kMostRequests) {
      QueueOpen(slot);
      ++unsubmitted_;
    }
    if (s.pending == 0) free_.push_back(slot);
  }

  void Reap() {
    ring_->Reap([&](std::uint64_t data, int result) {
      Completed(static_cast<unsigned>(data >> kStepBits),
                static_cast<Step>(data & ((1u << kStepBits) - 1)), result);
    });
  }

  // Waits for a completion; false when the ring is broken.
  bool Wait() {
    unsubmitted_ = 0;
    broken_ = broken_ || !ring_->Submit(/*wait=*/true);
    Reap();
    return !broken_;
  }

  void Flush() {
    unsubmitted_ = 0;
    broken_ = broken_ || !ring_->Submit();
  }

  unsigned unsubmitted_ = 0;  // files whose requests are filled in, not yet handed over
  bool broken_ = false;
  std::unique_ptr<SubmissionRing> ring_;
  std::array<Slot, kFiles> slots_;
  std::vector<unsigned> free_;
};

ReadAhead::ReadAhead() = default;
ReadAhead::~ReadAhead() = default;

void ReadAhead::Hint(int dir_fd, const char* name, unsigned char type) {
  if (!chosen_) {
    chosen_ = true;
    // Room for every slot's requests at once.
    constexpr unsigned kRingEntries = 4 * kFiles;
    if (auto ring = SubmissionRing::Make(kRingEntries, kFiles)) {
      queue_ = std::make_unique<Queue>(std::move(ring));
    }
  }
  if (queue_ != nullptr && !queue_->broken()) return queue_->Hint(dir_fd, name, type);
  HintNow(dir_fd, name, type);
}

void ReadAhead::Release(int dir_fd) {
  if (queue_ != nullptr) queue_->Release(dir_fd);
}

void ReadAhead::HintNow(int dir_fd, const char* name, unsigned char type) {
  if (type != DT_REG) {
    struct stat status {};
    if (!NeedsALook(type) || fstatat(dir_fd, name, &status, 0) != 0 ||
        !S_ISREG(status.st_mode)) {
      return;
    }
  }
  const int fd = openat(dir_fd, name, kOpenFlags);
  if (fd < 0) return;
  posix_fadvise(fd, 0, kHintBytes, POSIX_FADV_WILLNEED);
  close(fd);
}

bool ReadAhead::ReadWouldWait(int fd) {
  char byte;
  iovec piece{&byte, 1};
  return preadv2(fd, &piece, 1, 0, RWF_NOWAIT) < 0 && errno == EAGAIN;
}
