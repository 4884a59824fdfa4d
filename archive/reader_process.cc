// The copy is made with fork, from whichever thread scans the file: it runs only the scan, touches
// no stream of this process's, and leaves with _exit. Its address space is bounded with
// RLIMIT_AS where the build has no sanitizer (whose shadow memory needs terabytes of it); its
// resident memory is watched from here in every build.
#include "archive/reader_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "archive/event_wire.h"

namespace {

constexpr int kWatchEveryMs = 50;
// Room in the address space beyond the bound, for what is mapped rather than used (stacks,
// libraries): the bound on resident memory is the one that names the limit.
constexpr std::uint64_t kAddressRoom = std::uint64_t{256} << 20;
constexpr std::size_t kPipeRead = 64 * 1024;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

std::int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// A process's size (field 0) or resident memory (field 1), in bytes; 0 when it cannot be read.
std::uint64_t MemoryOf(pid_t pid, int field) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
  std::FILE* statm = std::fopen(path, "re");
  if (statm == nullptr) return 0;
  unsigned long long pages[2] = {0, 0};
  const int read = std::fscanf(statm, "%llu %llu", &pages[0], &pages[1]);
  std::fclose(statm);
  if (read != 2) return 0;
  return pages[field] * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

std::string MiB(std::uint64_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

[[noreturn]] void RunCopy(int fd, pid_t parent, const ReaderBounds& bounds,
                          const ArchiveEvents& like, std::atomic<std::uint64_t>& progress,
                          const ReaderWork& work) {
  // The copy dies of the signals that stop a run, rather than run this process's handlers.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) std::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  if (!kSanitized) {
    const rlim_t most = MemoryOf(getpid(), 0) + bounds.max_memory + kAddressRoom;
    const rlimit limit{most, most};
    setrlimit(RLIMIT_AS, &limit);
  }
  EventWriter writer(fd);
  const ArchiveEvents events = writer.Events(like);
  try {
    work(events, progress);
  } catch (const std::bad_alloc&) {
    events.on_error({}, ENOMEM,
                    "the archive's reader ran out of the memory --archive-max-memory allows (" +
                        MiB(bounds.max_memory) + ")");
  }
  _exit(writer.Finish() ? 0 : 1);
}

// Takes the copy's events until it ends, stopping it past a bound.
ReaderOutcome Watch(pid_t pid, int fd, EventReader& reader, std::atomic<std::uint64_t>& progress,
                    const ReaderBounds& bounds, std::uint64_t resident_before) {
  ReaderOutcome outcome;
  bool stopped = false;
  const auto stop = [&](ReaderOutcome::End why, int error, std::string message) {
    kill(pid, SIGKILL);
    stopped = true;
    outcome = {why, error, std::move(message)};
  };
  std::uint64_t last_progress = progress.load(std::memory_order_relaxed);
  std::int64_t last_change = NowMs();
  std::vector<std::uint8_t> buffer(kPipeRead);
  for (;;) {
    pollfd watched{fd, POLLIN, 0};
    const int ready = poll(&watched, 1, kWatchEveryMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      const ssize_t got = read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // the copy has ended
      if (!reader.Take({buffer.data(), static_cast<std::size_t>(got)}) && !stopped) {
        stop(ReaderOutcome::End::kBroken, EIO, "the archive's reader told what did not read");
      }
      last_change = NowMs();
    }
    if (stopped) continue;
    if (bounds.cancel != nullptr && bounds.cancel->load(std::memory_order_relaxed)) {
      stop(ReaderOutcome::End::kCancelled, ECANCELED, std::strerror(ECANCELED));
    } else if (MemoryOf(pid, 1) > resident_before + bounds.max_memory) {
      stop(ReaderOutcome::End::kTooMuchMemory, ENOMEM,
           "the archive's reader was stopped: it took more than --archive-max-memory (" +
               MiB(bounds.max_memory) + ")");
    } else if (const std::uint64_t now = progress.load(std::memory_order_relaxed);
               now != last_progress) {
      last_progress = now;
      last_change = NowMs();
    } else if (NowMs() - last_change > std::int64_t{bounds.most_stalled_seconds} * 1000) {
      stop(ReaderOutcome::End::kStalled, ETIMEDOUT,
           "the archive's reader was stopped: it read nothing new for " +
               std::to_string(bounds.most_stalled_seconds) + " s (--archive-max-stall)");
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (stopped) return outcome;
  if (reader.ended() && WIFEXITED(status) && WEXITSTATUS(status) == 0) return outcome;
  const std::string why = WIFSIGNALED(status)
                              ? std::string("signal ") + std::to_string(WTERMSIG(status)) + " (" +
                                    strsignal(WTERMSIG(status)) + ")"
                              : "it ended before it finished";
  return {ReaderOutcome::End::kBroken, EIO, "the archive's reader failed: " + why};
}

}  // namespace

void ForkGate::Enter() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return forks_waiting_ == 0; });
  ++inside_;
}

void ForkGate::Leave() {
  std::lock_guard lock(mutex_);
  --inside_;
  changed_.notify_all();
}

int ForkGate::Alone(const std::function<int()>& make_copy) {
  std::unique_lock lock(mutex_);
  --inside_;
  ++forks_waiting_;
  changed_.wait(lock, [&] { return inside_ == 0; });
  // Forks wait for one another under the lock; threads coming in wait for them all.
  const int pid = make_copy();
  --forks_waiting_;
  changed_.notify_all();
  return pid;
}

ReaderOutcome RunReaderProcess(const ReaderBounds& bounds, const ArchiveEvents& events,
                               const Digests& known, const ReaderWork& work) {
  const ReaderOutcome not_started{ReaderOutcome::End::kNotStarted, 0, {}};
  // A sanitizer's allocator is not made whole in a fork's copy: a lock another thread held at the
  // fork stays held there. A sanitized build with more than one thread reads in this process.
  if (kSanitized && bounds.fork_gate != nullptr) return not_started;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return not_started;
  void* shared = mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (shared == MAP_FAILED) {
    close(ends[0]);
    close(ends[1]);
    return not_started;
  }
  auto* progress = new (shared) std::atomic<std::uint64_t>(0);
  const std::uint64_t resident_before = MemoryOf(getpid(), 1);
  const pid_t parent = getpid();
  const auto copy = [&] {
    const pid_t pid = fork();
    if (pid == 0) {
      close(ends[0]);
      RunCopy(ends[1], parent, bounds, events, *progress, work);
    }
    return pid;
  };
  const pid_t pid = bounds.fork_gate != nullptr ? bounds.fork_gate->Alone(copy) : copy();
  close(ends[1]);
  ReaderOutcome outcome = not_started;
  if (pid > 0) {
    EventReader reader(events, known);
    outcome = Watch(pid, ends[0], reader, *progress, bounds, resident_before);
  }
  if (bounds.fork_gate != nullptr) bounds.fork_gate->Enter();
  close(ends[0]);
  munmap(shared, sizeof(std::atomic<std::uint64_t>));
  return outcome;
}
