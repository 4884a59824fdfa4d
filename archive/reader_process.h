// A file that looks packed is read in a process of its own, a copy of this one made for it, so that
// what a library does with hostile bytes (loop for ever, take all the memory, crash) costs that
// file an error and never the run: the copy's address space is bounded, and this process watches
// its memory and its progress and stops it past either bound. Its events come back through a pipe
// as it goes, so the lines told before it was stopped are kept.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "archive/archive_events.h"

struct ReaderBounds {
  // Memory the reader may take beyond what this process held when it began.
  std::uint64_t max_memory = std::uint64_t{1} << 30;
  // How long the reader may go without reading or decompressing a byte more.
  int most_stalled_seconds = 60;
  // Set from any thread, stops the reader.
  const std::atomic<bool>* cancel = nullptr;
  // The run's gate, which the calling thread is inside: the fork is made alone.
  ForkGate* fork_gate = nullptr;
};

struct ReaderOutcome {
  enum class End {
    kFinished,       // every event came
    kNotStarted,     // no process could be made: the work is for the caller to do
    kTooMuchMemory,  // stopped past max_memory
    kStalled,        // stopped past most_stalled_seconds
    kBroken,         // it ended otherwise: a signal, or without telling the end
    kCancelled,      // stopped by the cancel flag
  } end = End::kFinished;
  int error = 0;        // an errno for the error line
  std::string message;  // naming the bound, or what ended it
};

// What the reader's process runs: it tells its events to `events`, and counts every byte it reads
// or decompresses on `progress`.
using ReaderWork = std::function<void(const ArchiveEvents& events, std::atomic<std::uint64_t>& progress)>;

// Runs `work` in a process of its own and tells its events to `events` here, as they come;
// `known` are the digest slots this process made before (the file's own). Returns once the
// process has ended.
ReaderOutcome RunReaderProcess(const ReaderBounds& bounds, const ArchiveEvents& events,
                               const Digests& known, const ReaderWork& work);
