// The extension zeblix._zeblix: a thin face over libzeblix's C API and the inventory's. Records
// are copied out of the C callback while the GIL is released, and become Python objects once it
// is held again, so that threads scan at once; a scan takes the GIL back at least every tenth of a
// second to learn whether a signal (Ctrl-C) asks it to stop. Built on CPython's limited API
// (3.11), so one build imports in every CPython from 3.11 on.
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "zeblix/inventory.h"
#include "zeblix/record_fields.h"
#include "zeblix/zeblix.h"

namespace {

// The fields, named and ordered as every zeblix output names them; the first of each group
// documents the group.
#define ZEBLIX_FIELD_NAME(field, ...) {#field, nullptr},
PyStructSequence_Field kRecordFields[] = {
    ZEBLIX_RECORD_FIELDS(ZEBLIX_FIELD_NAME, ZEBLIX_FIELD_NAME, ZEBLIX_FIELD_NAME, ZEBLIX_FIELD_NAME)
    {nullptr, nullptr},
};
#undef ZEBLIX_FIELD_NAME

struct FieldDoc {
  const char* field;
  const char* doc;
};
constexpr FieldDoc kFieldDocs[] = {
    {"format", "\"V6\" for a new-format block, \"V5\" for an old-format record"},
    {"offset", "the record's first byte in the scanned bytes"},
    {"byte_order", "\"native\", or \"foreign\" when written on a machine of the other one"},
    {"company", "text fields: the bytes as str, those not UTF-8 kept by surrogateescape"},
    {"build_number", "empty in an old-format record"},
    {"patch_level", "numbers, in this machine's byte order"},
    {"patch_level_text", "the words the zeblix report prints for the numbers"},
};

void DocumentFields() {
  for (PyStructSequence_Field& field : kRecordFields) {
    for (const FieldDoc& doc : kFieldDocs) {
      if (field.name != nullptr && std::strcmp(field.name, doc.field) == 0) field.doc = doc.doc;
    }
  }
}

PyStructSequence_Desc kRecordDesc = {
    "zeblix.Record",
    "One version record, read-only, its fields named as zeblix-inventory's JSON keys.",
    kRecordFields, ZEBLIX_RECORD_FIELD_COUNT};

struct ModuleState {
  PyTypeObject* record_type;
  PyObject* limit_exceeded;  // zeblix.LimitExceeded, an OSError
  PyTypeObject* inventory_type;
};

ModuleState& StateOf(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

using Clock = std::chrono::steady_clock;
constexpr auto kLookForSignals = std::chrono::milliseconds(100);
constexpr int kLookForSignalsMs = 100;

// Learns, taking the GIL for it, whether a signal asks Python to stop (Ctrl-C raises
// KeyboardInterrupt): the exception then waits in `pending`, to be raised once the scan stopped.
struct PendingException {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  bool set() const { return type != nullptr; }
  void Raise() { PyErr_Restore(type, value, traceback); }
};

bool SignalArrived(PendingException& pending) {
  const PyGILState_STATE gil = PyGILState_Ensure();
  const bool arrived = PyErr_CheckSignals() < 0;
  if (arrived) PyErr_Fetch(&pending.type, &pending.value, &pending.traceback);
  PyGILState_Release(gil);
  return arrived;
}

// A record copied out of the C callback, which runs without the GIL: its words are the
// header's, its texts copied.
#define ZEBLIX_COPY_WORD(field, word, member) const char* field;
#define ZEBLIX_COPY_NUMBER(field) std::int64_t field;
#define ZEBLIX_COPY_TEXT(field, ...) std::string field;
struct CopiedRecord {
  ZEBLIX_RECORD_FIELDS(ZEBLIX_COPY_WORD, ZEBLIX_COPY_NUMBER, ZEBLIX_COPY_TEXT, ZEBLIX_COPY_TEXT)
};
#undef ZEBLIX_COPY_WORD
#undef ZEBLIX_COPY_NUMBER
#undef ZEBLIX_COPY_TEXT

struct Collected {
  std::vector<CopiedRecord> records;
  bool out_of_memory = false;
};

int Collect(const zeblix_record* r, void* user) {
  auto& collected = *static_cast<Collected*>(user);
  try {
#define ZEBLIX_COPY_WORD(field, word, member) .field = word(r->member),
#define ZEBLIX_COPY_NUMBER(field) .field = r->field,
#define ZEBLIX_COPY_TEXT(field, ...) .field = r->field,
    collected.records.push_back({ZEBLIX_RECORD_FIELDS(ZEBLIX_COPY_WORD, ZEBLIX_COPY_NUMBER,
                                                      ZEBLIX_COPY_TEXT, ZEBLIX_COPY_TEXT)});
#undef ZEBLIX_COPY_WORD
#undef ZEBLIX_COPY_NUMBER
#undef ZEBLIX_COPY_TEXT
    return 0;
  } catch (const std::bad_alloc&) {
    collected.out_of_memory = true;
    return 1;
  }
}

PyObject* Text(const std::string& bytes) {
  return PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()),
                              "surrogateescape");
}

PyObject* MakeRecord(PyTypeObject* type, const CopiedRecord& r) {
#define ZEBLIX_ITEM_WORD(field, ...) PyUnicode_FromString(r.field),
#define ZEBLIX_ITEM_NUMBER(field) PyLong_FromLongLong(r.field),
#define ZEBLIX_ITEM_TEXT(field, ...) Text(r.field),
  PyObject* items[] = {ZEBLIX_RECORD_FIELDS(ZEBLIX_ITEM_WORD, ZEBLIX_ITEM_NUMBER, ZEBLIX_ITEM_TEXT,
                                            ZEBLIX_ITEM_TEXT)};
#undef ZEBLIX_ITEM_WORD
#undef ZEBLIX_ITEM_NUMBER
#undef ZEBLIX_ITEM_TEXT
  PyObject* record = PyStructSequence_New(type);
  bool whole = record != nullptr;
  for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(std::size(items)); ++i) {
    whole = whole && items[i] != nullptr;
    if (whole) {
      PyStructSequence_SetItem(record, i, items[i]);  // takes the reference
    } else {
      Py_XDECREF(items[i]);
    }
  }
  if (whole) return record;
  Py_XDECREF(record);
  return nullptr;
}

// The most bytes a scan may read, from its limit= keyword; none when absent or None.
constexpr std::uint64_t kNoLimit = UINT64_MAX;

// The most to ask for next: one byte past the limit tells a file that holds more from one that
// ends there.
std::size_t Room(std::size_t size, std::uint64_t limit, std::uint64_t taken) {
  if (limit == kNoLimit) return size;
  return static_cast<std::size_t>(std::min<std::uint64_t>(size, limit - std::min(limit, taken) + 1));
}

bool LimitFrom(PyObject* limit, std::uint64_t& bytes) {
  bytes = kNoLimit;
  if (limit == nullptr || limit == Py_None) return true;
  bytes = PyLong_AsUnsignedLongLong(limit);
  if (bytes == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr) {
    PyErr_SetString(PyExc_ValueError, "limit= takes a number of bytes, 0 or more");
    return false;
  }
  return true;
}

PyObject* RaiseLimit(PyObject* module, std::uint64_t limit, PyObject* filename) {
  const std::string message = "more than limit=" + std::to_string(limit) + " bytes to read";
  PyObject* error = PyObject_CallFunction(StateOf(module).limit_exceeded, "isO", EFBIG,
                                          message.c_str(), filename != nullptr ? filename : Py_None);
  if (error == nullptr) return nullptr;
  PyErr_SetObject(StateOf(module).limit_exceeded, error);
  Py_DECREF(error);
  return nullptr;
}

// The records as a list, or the scan's error raised: an OSError subclass chosen by errno, with
// `filename` where there is one.
PyObject* Finish(PyObject* module, const Collected& collected, int error, PyObject* filename) {
  if (collected.out_of_memory || error == ENOMEM) return PyErr_NoMemory();
  if (error != 0) {
    errno = error;
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(collected.records.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t i = 0; i < collected.records.size(); ++i) {
    PyObject* record = MakeRecord(StateOf(module).record_type, collected.records[i]);
    if (record == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), record);
  }
  return list;
}

// An open file read for a scan without the GIL: a pipe or device waited on a tenth of a second
// at a time, the signals looked for at least that often, the bytes counted against a limit.
struct WatchedFile {
  int fd = -1;
  bool regular = false;
  std::uint64_t limit = kNoLimit;
  std::uint64_t read = 0;
  bool over_limit = false;
  PendingException interrupted;
  Clock::time_point next_look = Clock::now() + kLookForSignals;
};

std::int64_t ReadWatched(void* source, void* buffer, std::size_t size) {
  auto& file = *static_cast<WatchedFile*>(source);
  for (;;) {
    if (Clock::now() >= file.next_look) {
      if (SignalArrived(file.interrupted)) return -EINTR;
      file.next_look = Clock::now() + kLookForSignals;
    }
    pollfd ready{file.fd, POLLIN, 0};
    if (!file.regular && poll(&ready, 1, kLookForSignalsMs) == 0) continue;
    const ssize_t got = read(file.fd, buffer, Room(size, file.limit, file.read));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) return -errno;
    file.read += static_cast<std::uint64_t>(got);
    if (file.read > file.limit) {
      file.over_limit = true;
      return -EFBIG;
    }
    return got;
  }
}

PyObject* ScanFile(PyObject* module, PyObject* args, PyObject* keywords) {
  static const char* kKeywords[] = {"", "limit", nullptr};
  PyObject* path = nullptr;
  PyObject* limit_object = nullptr;
  std::uint64_t limit = kNoLimit;
  if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|$O", const_cast<char**>(kKeywords), &path,
                                   &limit_object) ||
      !LimitFrom(limit_object, limit)) {
    return nullptr;
  }
  PyObject* encoded = nullptr;
  if (!PyUnicode_FSConverter(path, &encoded)) return nullptr;
  Collected collected;
  WatchedFile file;
  file.limit = limit;
  int error = 0;
  Py_BEGIN_ALLOW_THREADS;
  // Opened not to block, so that waiting for a FIFO's writer can be interrupted.
  file.fd = open(PyBytes_AsString(encoded), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat status {};
  if (file.fd < 0) {
    error = errno;
  } else if (fstat(file.fd, &status) != 0 || S_ISDIR(status.st_mode)) {
    error = S_ISDIR(status.st_mode) ? EISDIR : errno;
  } else {
    file.regular = S_ISREG(status.st_mode);
    error = zeblix_scan_read(ReadWatched, &file, Collect, &collected);
  }
  if (file.fd >= 0) close(file.fd);
  Py_END_ALLOW_THREADS;
  Py_DECREF(encoded);
  if (file.interrupted.set()) {
    file.interrupted.Raise();
    return nullptr;
  }
  PyObject* filename = error != 0 && error != ENOMEM ? PyOS_FSPath(path) : nullptr;
  PyObject* result = file.over_limit ? RaiseLimit(module, limit, filename)
                                     : Finish(module, collected, error, filename);
  Py_XDECREF(filename);
  return result;
}

PyObject* ScanBytes(PyObject* module, PyObject* args, PyObject* keywords) {
  static const char* kKeywords[] = {"", "limit", nullptr};
  PyObject* data = nullptr;
  PyObject* limit_object = nullptr;
  std::uint64_t limit = kNoLimit;
  if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|$O", const_cast<char**>(kKeywords), &data,
                                   &limit_object) ||
      !LimitFrom(limit_object, limit)) {
    return nullptr;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) != 0) return nullptr;
  if (static_cast<std::uint64_t>(view.len) > limit) {
    PyBuffer_Release(&view);
    return RaiseLimit(module, limit, nullptr);
  }
  Collected collected;
  int error;
  Py_BEGIN_ALLOW_THREADS;
  error = zeblix_scan_bytes(view.buf, static_cast<std::size_t>(view.len), Collect, &collected);
  Py_END_ALLOW_THREADS;
  PyBuffer_Release(&view);
  return Finish(module, collected, error, nullptr);
}

// A binary file object read piece by piece, with the GIL taken for each read; an exception its
// read raises is kept to be raised again, unchanged, once the scan has stopped.
struct FileSource {
  PyObject* readinto;  // or null: read(size) then
  PyObject* read;
  std::uint64_t limit = kNoLimit;
  std::uint64_t taken = 0;
  bool over_limit = false;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
};

// Calls readinto(memoryview of the room) or read(size): the bytes placed, or -1 with an exception.
Py_ssize_t ReadPiece(FileSource& file, void* buffer, std::size_t size) {
  if (file.readinto != nullptr) {
    PyObject* room = PyMemoryView_FromMemory(static_cast<char*>(buffer),
                                             static_cast<Py_ssize_t>(size), PyBUF_WRITE);
    if (room == nullptr) return -1;
    PyObject* result = PyObject_CallFunctionObjArgs(file.readinto, room, nullptr);
    // The room is lent for this call only, whatever readinto did: an exception it raised waits.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* released = PyObject_CallMethod(room, "release", nullptr);
    Py_DECREF(room);
    if (released == nullptr) {  // readinto kept the buffer: nothing read may be trusted
      Py_XDECREF(result);
      Py_XDECREF(type);
      Py_XDECREF(value);
      Py_XDECREF(traceback);
      return -1;
    }
    Py_DECREF(released);
    PyErr_Restore(type, value, traceback);
    if (result == nullptr) return -1;
    if (result == Py_None) {
      Py_DECREF(result);
      errno = EAGAIN;  // a non-blocking stream with nothing to read now
      PyErr_SetFromErrno(PyExc_OSError);
      return -1;
    }
    const Py_ssize_t got = PyLong_AsSsize_t(result);
    Py_DECREF(result);
    if (got == -1 && PyErr_Occurred() != nullptr) return -1;
    if (got >= 0 && static_cast<std::size_t>(got) <= size) return got;
    PyErr_SetString(PyExc_ValueError, "readinto() returned a count outside the buffer");
    return -1;
  }
  PyObject* result = PyObject_CallFunction(file.read, "n", static_cast<Py_ssize_t>(size));
  if (result == nullptr) return -1;
  Py_buffer view;
  if (PyObject_GetBuffer(result, &view, PyBUF_SIMPLE) != 0) {
    Py_DECREF(result);
    return -1;
  }
  Py_ssize_t got = view.len;
  if (static_cast<std::size_t>(got) <= size) {
    std::memcpy(buffer, view.buf, static_cast<std::size_t>(got));
  } else {
    PyErr_SetString(PyExc_ValueError, "read() returned more bytes than were asked for");
    got = -1;
  }
  PyBuffer_Release(&view);
  Py_DECREF(result);
  return got;
}

// Reads a piece with the GIL taken, and looks for signals while it is held: an endless stream
// (an unbuffered file of /dev/zero) is stopped by Ctrl-C, or by its limit.
std::int64_t ReadFile(void* source, void* buffer, std::size_t size) {
  auto& file = *static_cast<FileSource*>(source);
  const PyGILState_STATE gil = PyGILState_Ensure();
  const Py_ssize_t got =
      PyErr_CheckSignals() < 0 ? -1 : ReadPiece(file, buffer, Room(size, file.limit, file.taken));
  if (got < 0) PyErr_Fetch(&file.type, &file.value, &file.traceback);
  PyGILState_Release(gil);
  if (got < 0) return -EIO;
  file.taken += static_cast<std::uint64_t>(got);
  if (file.taken <= file.limit) return got;
  file.over_limit = true;
  return -EFBIG;
}

PyObject* ScanStream(PyObject* module, PyObject* args, PyObject* keywords) {
  static const char* kKeywords[] = {"", "limit", nullptr};
  PyObject* stream = nullptr;
  PyObject* limit_object = nullptr;
  FileSource file{nullptr, nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|$O", const_cast<char**>(kKeywords), &stream,
                                   &limit_object) ||
      !LimitFrom(limit_object, file.limit)) {
    return nullptr;
  }
  if (PyObject_HasAttrString(stream, "readinto")) {
    file.readinto = PyObject_GetAttrString(stream, "readinto");
  } else if (PyObject_HasAttrString(stream, "read")) {
    file.read = PyObject_GetAttrString(stream, "read");
  } else {
    PyErr_SetString(PyExc_TypeError, "scan_stream() needs a binary file object (readinto or read)");
    return nullptr;
  }
  if (file.readinto == nullptr && file.read == nullptr) return nullptr;
  Collected collected;
  int error;
  Py_BEGIN_ALLOW_THREADS;
  error = zeblix_scan_read(ReadFile, &file, Collect, &collected);
  Py_END_ALLOW_THREADS;
  Py_XDECREF(file.readinto);
  Py_XDECREF(file.read);
  if (file.type != nullptr) {
    PyErr_Restore(file.type, file.value, file.traceback);
    return nullptr;
  }
  if (file.over_limit) return RaiseLimit(module, file.limit, nullptr);
  return Finish(module, collected, error, nullptr);
}

// The lines of an inventory, between the engine's thread, which puts them, and the iterator,
// which takes them; the engine waits while a slow reader has kQueued lines waiting.
struct Feed {
  static constexpr std::size_t kQueued = 4096;

  std::mutex mutex;
  std::condition_variable ready;
  std::condition_variable room;
  std::deque<std::string> lines;
  bool done = false;
  bool closed = false;
  int status = 0;
  zeblix_inventory* run = nullptr;
  std::thread engine;

  static int Put(const char* line, std::size_t size, void* user) {
    auto& feed = *static_cast<Feed*>(user);
    std::unique_lock lock(feed.mutex);
    feed.room.wait(lock, [&] { return feed.lines.size() < kQueued || feed.closed; });
    if (feed.closed) return 1;
    feed.lines.emplace_back(line, size);
    feed.ready.notify_one();
    return 0;
  }

  // Stops the engine and waits for its thread; call without the GIL.
  void Close() {
    {
      std::lock_guard lock(mutex);
      closed = true;
    }
    room.notify_all();
    if (run != nullptr) zeblix_inventory_cancel(run);
    if (engine.joinable()) engine.join();
    zeblix_inventory_free(run);
    run = nullptr;
  }
};

struct InventoryObject {
  PyObject_HEAD
  Feed* feed;
};

PyObject* InventoryNew(PyTypeObject* type, PyObject* args, PyObject*) {
  PyObject* list = nullptr;
  if (!PyArg_ParseTuple(args, "O!", &PyList_Type, &list)) return nullptr;
  std::vector<const char*> argv;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) {
    const char* arg = PyBytes_AsString(PyList_GetItem(list, i));
    if (arg == nullptr) return nullptr;
    argv.push_back(arg);
  }
  auto feed = std::make_unique<Feed>();
  char message[512] = "";
  const int error = zeblix_inventory_new(static_cast<int>(argv.size()), argv.data(), &feed->run,
                                         message, sizeof message);
  if (error == EINVAL) {
    PyErr_SetString(PyExc_ValueError, message);
    return nullptr;
  }
  if (error != 0) return PyErr_NoMemory();
  auto* self = reinterpret_cast<InventoryObject*>(PyType_GenericAlloc(type, 0));
  if (self == nullptr) return nullptr;
  Feed* raw = feed.release();
  self->feed = raw;
  raw->engine = std::thread([raw] {
    const int status = zeblix_inventory_run(raw->run, Feed::Put, raw);
    std::lock_guard lock(raw->mutex);
    raw->status = status;
    raw->done = true;
    raw->ready.notify_all();
  });
  return reinterpret_cast<PyObject*>(self);
}

void InventoryClose(InventoryObject* self) {
  if (self->feed == nullptr) return;
  Feed* feed = self->feed;
  self->feed = nullptr;
  Py_BEGIN_ALLOW_THREADS;
  feed->Close();
  delete feed;
  Py_END_ALLOW_THREADS;
}

void InventoryDealloc(PyObject* object) {
  auto* self = reinterpret_cast<InventoryObject*>(object);
  InventoryClose(self);
  PyTypeObject* type = Py_TYPE(object);
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(object);
  Py_DECREF(type);
}

// The next line as bytes; StopIteration at the end; the signal's exception, or the engine's error.
PyObject* InventoryNext(PyObject* object) {
  auto* self = reinterpret_cast<InventoryObject*>(object);
  if (self->feed == nullptr) return nullptr;
  Feed& feed = *self->feed;
  for (;;) {
    std::string line;
    bool ended = false;
    int status = 0;
    Py_BEGIN_ALLOW_THREADS;
    std::unique_lock lock(feed.mutex);
    feed.ready.wait_for(lock, kLookForSignals, [&] { return !feed.lines.empty() || feed.done; });
    if (!feed.lines.empty()) {
      line = std::move(feed.lines.front());
      feed.lines.pop_front();
      feed.room.notify_one();
    } else {
      ended = feed.done;
      status = feed.status;
    }
    Py_END_ALLOW_THREADS;
    if (!line.empty()) return PyBytes_FromStringAndSize(line.data(), static_cast<Py_ssize_t>(line.size()));
    if (ended) {
      InventoryClose(self);
      if (status == 0 || status == 1) return nullptr;  // every line told, errors included
      errno = status;
      return PyErr_SetFromErrno(PyExc_OSError);
    }
    if (PyErr_CheckSignals() < 0) {
      InventoryClose(self);
      return nullptr;
    }
  }
}

PyObject* InventoryClosed(PyObject* object, PyObject*) {
  InventoryClose(reinterpret_cast<InventoryObject*>(object));
  Py_RETURN_NONE;
}

PyMethodDef kInventoryMethods[] = {
    {"close", InventoryClosed, METH_NOARGS, "Stops the run and lets go of what it holds."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kInventorySlots[] = {
    {Py_tp_doc, const_cast<char*>("_Inventory(args): the lines of zeblix-inventory ARGS, as bytes.")},
    {Py_tp_new, reinterpret_cast<void*>(InventoryNew)},
    {Py_tp_dealloc, reinterpret_cast<void*>(InventoryDealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(InventoryNext)},
    {Py_tp_methods, kInventoryMethods},
    {0, nullptr},
};

PyType_Spec kInventorySpec = {"zeblix._Inventory", sizeof(InventoryObject), 0, Py_TPFLAGS_DEFAULT,
                              kInventorySlots};

PyMethodDef kFunctions[] = {
    {  "scan_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ScanFile)),
     METH_VARARGS | METH_KEYWORDS,
     "scan_file(path, *, limit=None) -> list[Record]\n\nThe records of the file at path (str, "
     "bytes or os.PathLike), in file order; a pipe or device is read to its end, and a FIFO "
     "waited on for its writer. Raises OSError (its subclass for the errno) with filename, and "
     "LimitExceeded when the file holds more than limit bytes."                                   },
    { "scan_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ScanBytes)),
     METH_VARARGS | METH_KEYWORDS,
     "scan_bytes(data, *, limit=None) -> list[Record]\n\nThe records of bytes in memory as the "
     "contents of a file: any object with the buffer protocol (bytes, bytearray, memoryview, "
     "mmap), not copied."                                                                          },
    {"scan_stream", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(ScanStream)),
     METH_VARARGS | METH_KEYWORDS,
     "scan_stream(fileobj, *, limit=None) -> list[Record]\n\nThe records of a binary file object, "
     "read with readinto() (or read()) to its end in constant memory. An exception its read "
     "raises comes out unchanged."                                                                },
    {      nullptr,    nullptr,      0,                                                    nullptr},
};

// The names of the fields that hold a text's bytes, which may not be UTF-8.
PyObject* TextFields() {
#define ZEBLIX_NONE(...)
#define ZEBLIX_TEXT_NAME(field) #field,
  static constexpr const char* kNames[] = {
      ZEBLIX_RECORD_FIELDS(ZEBLIX_NONE, ZEBLIX_NONE, ZEBLIX_TEXT_NAME, ZEBLIX_NONE)};
#undef ZEBLIX_NONE
#undef ZEBLIX_TEXT_NAME
  PyObject* names = PyTuple_New(static_cast<Py_ssize_t>(std::size(kNames)));
  for (Py_ssize_t i = 0; names != nullptr && i < static_cast<Py_ssize_t>(std::size(kNames)); ++i) {
    PyObject* name = PyUnicode_FromString(kNames[i]);
    if (name == nullptr) {
      Py_CLEAR(names);
      break;
    }
    PyTuple_SetItem(names, i, name);  // takes the reference
  }
  return names;
}

int Execute(PyObject* module) {
  ModuleState& state = StateOf(module);
  DocumentFields();
  state.record_type = PyStructSequence_NewType(&kRecordDesc);
  if (state.record_type == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "Record", reinterpret_cast<PyObject*>(state.record_type)) < 0) {
    return -1;
  }
  state.limit_exceeded = PyErr_NewExceptionWithDoc(
      "zeblix.LimitExceeded",
      "A scan would read more than its limit= bytes (errno EFBIG); an OSError.", PyExc_OSError,
      nullptr);
  if (state.limit_exceeded == nullptr ||
      PyModule_AddObjectRef(module, "LimitExceeded", state.limit_exceeded) < 0) {
    return -1;
  }
  state.inventory_type =
      reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &kInventorySpec, nullptr));
  if (state.inventory_type == nullptr ||
      PyModule_AddObjectRef(module, "_Inventory", reinterpret_cast<PyObject*>(state.inventory_type)) < 0) {
    return -1;
  }
  PyObject* text_fields = TextFields();
  const int added =
      text_fields == nullptr ? -1 : PyModule_AddObjectRef(module, "_text_fields", text_fields);
  Py_XDECREF(text_fields);
  if (added < 0) return -1;
  return PyModule_AddStringConstant(module, "__version__", zeblix_version());
}

int Traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(StateOf(module).record_type);
  Py_VISIT(StateOf(module).limit_exceeded);
  Py_VISIT(StateOf(module).inventory_type);
  return 0;
}

int Clear(PyObject* module) {
  Py_CLEAR(StateOf(module).record_type);
  Py_CLEAR(StateOf(module).limit_exceeded);
  Py_CLEAR(StateOf(module).inventory_type);
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Execute)},
    {          0,                          nullptr}
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "zeblix._zeblix",
    "The engine under the package zeblix: libzeblix's scans and zeblix-inventory's runs.",
    sizeof(ModuleState),
    kFunctions,
    kSlots,
    Traverse,
    Clear,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__zeblix(void) {
  return PyModuleDef_Init(&kModule);
}
