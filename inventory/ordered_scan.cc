// With one job the walk's thread scans and writes; with more, workers take items in walk order and
// whichever finishes the oldest unwritten item writes every finished item from there on.
#include "inventory/ordered_scan.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

OrderedScan::OrderedScan(unsigned jobs, const ScanSettings& settings, Sink sink)
    : settings_(settings), sink_(std::move(sink)) {
  if (jobs <= 1) return;
  slots_.resize(kWindow);
  // The walk's own thread is one of the jobs: it scans whenever the window is full. Where fewer
  // threads can be had (a process or memory limit), the run goes on with those it has.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kWorkerStack);
  for (unsigned i = 1; i < jobs; ++i) {
    pthread_t worker;
    const int error = pthread_create(&worker, &attributes, RunWorker, this);
    if (error != 0) {
      std::fprintf(stderr, "zeblix-inventory: scanning with %u of the %u jobs asked for: %s\n",
                   i, jobs, std::strerror(error));
      break;
    }
    workers_.push_back(worker);
    jobs_.fetch_add(1, std::memory_order_relaxed);
  }
  pthread_attr_destroy(&attributes);
}

void* OrderedScan::RunWorker(void* scan) {
  static_cast<OrderedScan*>(scan)->Work();
  return nullptr;
}

OrderedScan::~OrderedScan() {
  Finish();
}

bool OrderedScan::ProbeDue(std::uint64_t sequence) const {
  return sequence % kProbeEvery == 0 && settings_.read_ahead != nullptr &&
         !settings_.read_ahead->active();
}

ScannedItem OrderedScan::Scan(const WalkItem& item, std::uint64_t sequence) const {
  const std::atomic<bool>* cancel = settings_.archive_limits.cancel;
  if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return {};
  return ScanItem(item, settings_, sequence, ProbeDue(sequence));
}

void OrderedScan::ScanAndWriteFirst() {
  const std::uint64_t sequence = taken_++;
  ScannedItem scanned = Scan(ahead_.front(), sequence);
  Write(ahead_.front(), std::move(scanned));
  ahead_.pop_front();
}

void OrderedScan::Add(WalkItem&& item) {
  if (slots_.empty()) {
    ahead_.push_back(std::move(item));
    const bool reading_ahead = settings_.read_ahead != nullptr && settings_.read_ahead->active();
    while (!ahead_.empty() && (!reading_ahead || ahead_.size() > kWindow)) ScanAndWriteFirst();
    return;
  }
  // Slots past added_ are the walk's own until published, so it fills them without the lock and
  // publishes a batch at a time.
  if (added_ + unpublished_ - known_written_ == slots_.size()) {
    Publish(/*wait_for_room=*/true, slots_.size() - 1);
  }
  Slot& slot = slots_[(added_ + unpublished_) % slots_.size()];
  slot.item = std::move(item);
  slot.done = false;
  if (++unpublished_ == kBatch) Publish(/*wait_for_room=*/false, 0);
}

void OrderedScan::Drain() {
  if (slots_.empty()) {
    while (!ahead_.empty()) ScanAndWriteFirst();
    return;
  }
  Publish(/*wait_for_room=*/true, /*left_in_flight=*/0);
}

void OrderedScan::Offer() {
  if (slots_.empty()) {
    while (!ahead_.empty()) ScanAndWriteFirst();
  } else if (unpublished_ > 0) {
    Publish(/*wait_for_room=*/false, 0);
  }
}

void OrderedScan::Publish(bool wait_for_room, std::uint64_t left_in_flight) {
  std::unique_lock lock(mutex_);
  added_ += unpublished_;
  unpublished_ = 0;
  while (wait_for_room && added_ - written_ > left_in_flight) {
    if (ScanBatch(lock)) continue;
    // All taken: wait until enough is written, so that the walk is woken once for many items
    // rather than for every line.
    walk_waits_until_ = std::min(left_in_flight, slots_.size() / 2);
    walk_waiting_ = true;
    room_ready_.wait(lock, [&] { return added_ - written_ <= walk_waits_until_; });
    walk_waiting_ = false;
  }
  known_written_ = written_;
  lock.unlock();
  work_ready_.notify_all();
}

void OrderedScan::Finish() {
  while (!ahead_.empty()) ScanAndWriteFirst();
  if (!slots_.empty()) {
    Publish(/*wait_for_room=*/false, 0);
    {
      std::unique_lock lock(mutex_);
      finishing_ = true;
      while (ScanBatch(lock)) {
      }
    }
    work_ready_.notify_all();
    for (const pthread_t worker : workers_) pthread_join(worker, nullptr);
    workers_.clear();
    slots_.clear();
  }
}

void OrderedScan::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [&] { return claimed_ < added_ || finishing_; });
    if (!ScanBatch(lock)) return;
  }
}

// Takes up to a batch of consecutive items, scans them without the lock and writes what is done
// in order: the lock is taken twice a batch rather than twice a file. False when none was left.
bool OrderedScan::ScanBatch(std::unique_lock<std::mutex>& lock) {
  if (claimed_ == added_) return false;
  const std::uint64_t first = claimed_;
  // Fewer at a time when few are waiting, so that a handful of large files (archives) are shared
  // out among the jobs rather than taken by one.
  const std::uint64_t jobs = jobs_.load(std::memory_order_relaxed);
  const std::uint64_t count = std::clamp<std::uint64_t>((added_ - claimed_) / (2 * jobs), 1, kBatch);
  claimed_ += count;
  lock.unlock();
  for (std::uint64_t sequence = first; sequence < first + count; ++sequence) {
    Slot& slot = slots_[sequence % slots_.size()];
    slot.scanned = Scan(slot.item, sequence);
  }
  lock.lock();
  for (std::uint64_t sequence = first; sequence < first + count; ++sequence) {
    slots_[sequence % slots_.size()].done = true;
  }
  WriteDoneInOrder();
  return true;
}

// Called with the lock held.
void OrderedScan::WriteDoneInOrder() {
  bool wrote = false;
  for (; written_ < added_; ++written_) {
    Slot& slot = slots_[written_ % slots_.size()];
    if (!slot.done) break;
    Write(slot.item, std::move(slot.scanned));
    slot.done = false;
    slot.scanned = {};
    slot.item = {};  // lets go of its directory
    wrote = true;
  }
  if (wrote && walk_waiting_ && added_ - written_ <= walk_waits_until_) room_ready_.notify_one();
}

void OrderedScan::Write(const WalkItem& item, ScannedItem&& scanned) {
  sink_(item, std::move(scanned));
}
