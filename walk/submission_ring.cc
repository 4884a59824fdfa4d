// The rings are shared with the kernel: the tails we publish and the heads we read are ordered
// with release and acquire, as the kernel's side expects.
#include "walk/submission_ring.h"

#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

int Setup(unsigned entries, io_uring_params& params) {
  return static_cast<int>(syscall(__NR_io_uring_setup, entries, &params));
}

int Enter(int fd, unsigned submit, unsigned wait, unsigned flags) {
  return static_cast<int>(syscall(__NR_io_uring_enter, fd, submit, wait, flags, nullptr, 0));
}

int Register(int fd, unsigned opcode, const void* argument, unsigned count) {
  return static_cast<int>(syscall(__NR_io_uring_register, fd, opcode, argument, count));
}

unsigned Load(const unsigned* shared) {
  return std::atomic_ref<unsigned>(*const_cast<unsigned*>(shared)).load(std::memory_order_acquire);
}

void Store(unsigned* shared, unsigned value) {
  std::atomic_ref<unsigned>(*shared).store(value, std::memory_order_release);
}

// Whether the kernel knows every operation the look-ahead asks for.
bool SupportsOperations(int fd) {
  constexpr unsigned kOperations = 256;
  std::vector<std::uint8_t> room(sizeof(io_uring_probe) + kOperations * sizeof(io_uring_probe_op));
  auto* probe = reinterpret_cast<io_uring_probe*>(room.data());
  if (Register(fd, IORING_REGISTER_PROBE, probe, kOperations) != 0) return false;
  for (const unsigned operation : {IORING_OP_OPENAT, IORING_OP_STATX, IORING_OP_FADVISE,
                                   IORING_OP_CLOSE}) {
    if (operation > probe->last_op || (probe->ops[operation].flags & IO_URING_OP_SUPPORTED) == 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<SubmissionRing> SubmissionRing::Make(unsigned entries, unsigned files) {
  io_uring_params params{};
  std::unique_ptr<SubmissionRing> ring(new SubmissionRing);
  // Completions are handled only when the one thread enters the ring: no interrupts between.
  params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
  ring->fd_ = Setup(entries, params);
  if (ring->fd_ < 0 && errno == EINVAL) {  // a kernel before 6.1
    params = io_uring_params{};
    ring->fd_ = Setup(entries, params);
  }
  if (ring->fd_ < 0) return nullptr;
  // Linked requests on descriptors of the ring's own, opened by the request before them, came
  // with the feature that looks their files up only when they run.
  constexpr unsigned kNeeded = IORING_FEAT_SINGLE_MMAP | IORING_FEAT_LINKED_FILE;
  if ((params.features & kNeeded) != kNeeded || !SupportsOperations(ring->fd_) ||
      !ring->Map(params)) {
    return nullptr;
  }
  const std::vector<int> empty_slots(files, -1);
  if (Register(ring->fd_, IORING_REGISTER_FILES, empty_slots.data(), files) != 0) return nullptr;
  return ring;
}

bool SubmissionRing::Map(const io_uring_params& params) {
  rings_size_ = std::max<std::size_t>(params.sq_off.array + params.sq_entries * sizeof(unsigned),
                                      params.cq_off.cqes + params.cq_entries * sizeof(io_uring_cqe));
  rings_ = mmap(nullptr, rings_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                IORING_OFF_SQ_RING);
  if (rings_ == MAP_FAILED) {
    rings_ = nullptr;
    return false;
  }
  sqes_size_ = params.sq_entries * sizeof(io_uring_sqe);
  void* sqes = mmap(nullptr, sqes_size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd_,
                    IORING_OFF_SQES);
  if (sqes == MAP_FAILED) return false;
  sqes_ = static_cast<io_uring_sqe*>(sqes);
  auto* base = static_cast<char*>(rings_);
  sq_head_ = reinterpret_cast<unsigned*>(base + params.sq_off.head);
  sq_tail_ = reinterpret_cast<unsigned*>(base + params.sq_off.tail);
  sq_array_ = reinterpret_cast<unsigned*>(base + params.sq_off.array);
  sq_mask_ = *reinterpret_cast<unsigned*>(base + params.sq_off.ring_mask);
  sq_entries_ = params.sq_entries;
  cq_head_ = reinterpret_cast<unsigned*>(base + params.cq_off.head);
  cq_tail_ = reinterpret_cast<unsigned*>(base + params.cq_off.tail);
  cq_mask_ = *reinterpret_cast<unsigned*>(base + params.cq_off.ring_mask);
  cqes_ = reinterpret_cast<io_uring_cqe*>(base + params.cq_off.cqes);
  return true;
}

SubmissionRing::~SubmissionRing() {
  if (sqes_ != nullptr) munmap(sqes_, sqes_size_);
  if (rings_ != nullptr) munmap(rings_, rings_size_);
  // Closing the ring closes the descriptors of its own that are still open.
  if (fd_ >= 0) close(fd_);
}

unsigned SubmissionRing::Room() const {
  return sq_entries_ - (*sq_tail_ + filled_ - Load(sq_head_));
}

io_uring_sqe* SubmissionRing::Next() {
  const unsigned tail = *sq_tail_ + filled_;
  io_uring_sqe* sqe = &sqes_[tail & sq_mask_];
  std::memset(sqe, 0, sizeof *sqe);
  sq_array_[tail & sq_mask_] = tail & sq_mask_;
  ++filled_;
  return sqe;
}

bool SubmissionRing::Submit(bool wait) {
  const unsigned tail = *sq_tail_ + filled_;
  Store(sq_tail_, tail);
  filled_ = 0;
  // Entering always handles the completions the kernel holds back until the thread asks.
  const unsigned flags = IORING_ENTER_GETEVENTS;
  for (;;) {
    if (Enter(fd_, tail - Load(sq_head_), wait ? 1 : 0, flags) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

const io_uring_cqe* SubmissionRing::Peek() const {
  const unsigned head = *cq_head_;
  if (head == Load(cq_tail_)) return nullptr;
  return &cqes_[head & cq_mask_];
}

void SubmissionRing::Advance() {
  Store(cq_head_, *cq_head_ + 1);
}
