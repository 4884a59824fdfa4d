// Scans the walk's items on N threads and hands them on in walk order, so the output is the same
// for every N. At most a window of items is in flight: the walk waits when it is that far ahead of
// the output, and the memory used does not grow with the tree.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <pthread.h>
#include <vector>

#include "inventory/item_scan.h"
#include "walk/tree_walk.h"
#include "walk/read_ahead.h"

class OrderedScan {
 public:
  // Items in flight at most, beyond those being scanned; enough for the look-ahead.
  static constexpr std::size_t kWindow = 2 * ReadAhead::kFiles;
  // Items a worker takes at a time.
  static constexpr std::uint64_t kBatch = 8;
  // A worker's stack: the scan keeps its buffers on the heap, and small stacks let a process
  // under a memory limit start more workers.
  static constexpr std::size_t kWorkerStack = std::size_t{1} << 20;
  // While reads do not wait, one file in this many is probed to learn whether they would.
  static constexpr std::uint64_t kProbeEvery = 64;

  // Takes each item once scanned, in walk order, one at a time.
  using Sink = std::function<void(const WalkItem& item, ScannedItem&& scanned)>;

  OrderedScan(unsigned jobs, const ScanSettings& settings, Sink sink);
  ~OrderedScan();
  OrderedScan(const OrderedScan&) = delete;
  OrderedScan& operator=(const OrderedScan&) = delete;

  // Takes the walk's next item; waits while the window is full.
  void Add(WalkItem&& item);

  // Scans and writes everything added so far, letting go of the items.
  void Drain();

  // Starts the scan of every item added so far, without waiting for it: the walk is about to
  // wait itself.
  void Offer();

  // Scans and hands on everything added.
  void Finish();

 private:
  struct Slot {
    WalkItem item;
    ScannedItem scanned;
    bool done = false;
  };

  static void* RunWorker(void* scan);
  void Work();
  bool ScanBatch(std::unique_lock<std::mutex>& lock);
  // Shows the workers the items filled in; with `wait_for_room`, waits (scanning too) until at
  // most `left_in_flight` items are unwritten.
  void Publish(bool wait_for_room, std::uint64_t left_in_flight);
  bool ProbeDue(std::uint64_t sequence) const;
  // The item scanned, or nothing of it once the run is cancelled.
  ScannedItem Scan(const WalkItem& item, std::uint64_t sequence) const;
  void ScanAndWriteFirst();
  void Write(const WalkItem& item, ScannedItem&& scanned);
  void WriteDoneInOrder();

  ScanSettings settings_;
  Sink sink_;
  std::uint64_t taken_ = 0;  // items scanned by the walk's own thread

  // One job: items wait here only while reads wait for the disk, so that the walk has the
  // kernel reading ahead of the scan.
  std::deque<WalkItem> ahead_;

  // More jobs: a ring of slots, filled by the walk, scanned by the workers, written in order.
  std::vector<Slot> slots_;
  std::uint64_t added_ = 0;
  std::uint64_t claimed_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t unpublished_ = 0;    // filled by the walk after added_, not yet seen by workers
  std::uint64_t known_written_ = 0;  // written_ as the walk last saw it
  bool finishing_ = false;
  bool walk_waiting_ = false;
  std::uint64_t walk_waits_until_ = 0;  // the walk is woken when this few items are unwritten
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable room_ready_;
  std::vector<pthread_t> workers_;
  std::atomic<std::uint64_t> jobs_ = 1;  // the walk's thread and the workers started
};
