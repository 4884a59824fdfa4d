// A small io_uring of our own, through the raw system calls: the structures come with the kernel's
// headers, no library is needed. One thread fills submissions and reaps completions; the kernel
// works them, so that many opens and reads wait for the disk at once without threads of ours.
#pragma once

#include <linux/io_uring.h>

#include <cstdint>
#include <memory>

class SubmissionRing {
 public:
  // A ring of `entries` submissions with `files` slots for descriptors of its own (which take no
  // room in the process's table); nullptr where the kernel does not allow one (too old for
  // linked requests on such descriptors, a seccomp filter, io_uring_disabled).
  static std::unique_ptr<SubmissionRing> Make(unsigned entries, unsigned files);
  ~SubmissionRing();
  SubmissionRing(const SubmissionRing&) = delete;
  SubmissionRing& operator=(const SubmissionRing&) = delete;

  // How many submissions can be filled before the kernel takes some.
  unsigned Room() const;
  // A cleared submission to fill, when there is room.
  io_uring_sqe* Next();
  // Hands the filled submissions to the kernel and, with `wait`, waits until one completes; false
  // when the kernel refused (the ring can no longer be trusted to complete what it holds).
  bool Submit(bool wait = false);
  // Calls `each(user_data, result)` for every completion there is, without waiting.
  template <typename Each>
  void Reap(Each&& each) {
    for (const io_uring_cqe* cqe; (cqe = Peek()) != nullptr; Advance()) {
      each(cqe->user_data, cqe->res);
    }
  }

 private:
  SubmissionRing() = default;
  bool Map(const io_uring_params& params);
  const io_uring_cqe* Peek() const;
  void Advance();

  int fd_ = -1;
  void* rings_ = nullptr;
  std::size_t rings_size_ = 0;
  io_uring_sqe* sqes_ = nullptr;
  std::size_t sqes_size_ = 0;
  unsigned* sq_head_ = nullptr;
  unsigned* sq_tail_ = nullptr;
  unsigned* sq_array_ = nullptr;
  unsigned sq_mask_ = 0;
  unsigned sq_entries_ = 0;
  unsigned* cq_head_ = nullptr;
  unsigned* cq_tail_ = nullptr;
  unsigned cq_mask_ = 0;
  io_uring_cqe* cqes_ = nullptr;
  unsigned filled_ = 0;  // submissions filled since the last Submit
};
