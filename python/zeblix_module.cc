// The Python module zeblix: a thin face over libzeblix's C API. Records are copied out of the C
// callback while the GIL is released, and become Python objects once it is held again, so that
// threads scan at once. Built on CPython's limited API (3.11), so one build imports in every
// CPython from 3.11 on.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "zeblix/zeblix.h"

namespace {

// clang-format off
PyStructSequence_Field kRecordFields[] = {
    {"format",           "\"V6\" for a new-format block, \"V5\" for an old-format record"},
    {"offset",           "the record's first byte in the scanned bytes"},
    {"byte_order",       "\"native\", or \"foreign\" when written on a machine of the other one"},
    {"company",          "text fields: the bytes as str, those not UTF-8 kept by surrogateescape"},
    {"description",      nullptr},
    {"product_version",  nullptr},
    {"internal_name",    nullptr},
    {"copyright",        nullptr},
    {"product_name",     nullptr},
    {"build_number",     "empty in an old-format record"},
    {"patch_level",      "numbers, in this machine's byte order"},
    {"release_mask",     nullptr},
    {"file_os",          nullptr},
    {"file_type",        nullptr},
    {"patch_level_text", "the words the zeblix report prints for the numbers"},
    {"release_text",     nullptr},
    {"os_text",          nullptr},
    {"file_type_text",   nullptr},
    {nullptr,            nullptr},
};
// clang-format on
constexpr int kTexts = 11;  // the text fields of a zeblix_record, the words included

PyStructSequence_Desc kRecordDesc = {
    "zeblix.Record",
    "One version record, read-only, its fields named as zeblix-inventory's JSON keys.",
    kRecordFields, 18};

struct ModuleState {
  PyTypeObject* record_type;
};

ModuleState& StateOf(PyObject* module) {
  return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// A record copied out of the C callback, which runs without the GIL.
struct CopiedRecord {
  int format;
  std::int64_t offset;
  bool foreign;
  std::int16_t patch_level;
  std::uint16_t release_mask, file_os, file_type;
  std::string texts[kTexts];
};

struct Collected {
  std::vector<CopiedRecord> records;
  bool out_of_memory = false;
};

int Collect(const zeblix_record* r, void* user) {
  auto& collected = *static_cast<Collected*>(user);
  try {
    collected.records.push_back({
        r->format,
        r->offset,
        r->foreign_byte_order != 0,
        r->patch_level,
        r->release_mask,
        r->file_os,
        r->file_type,
        {r->company, r->description, r->product_version, r->internal_name, r->copyright,
                     r->product_name, r->build_number, r->patch_level_text, r->release_text, r->os_text,
                     r->file_type_text}
    });
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
  PyObject* items[] = {
      PyUnicode_FromString(r.format == 6 ? "V6" : "V5"),
      PyLong_FromLongLong(r.offset),
      PyUnicode_FromString(r.foreign ? "foreign" : "native"),
      Text(r.texts[0]),
      Text(r.texts[1]),
      Text(r.texts[2]),
      Text(r.texts[3]),
      Text(r.texts[4]),
      Text(r.texts[5]),
      Text(r.texts[6]),
      PyLong_FromLong(r.patch_level),
      PyLong_FromLong(r.release_mask),
      PyLong_FromLong(r.file_os),
      PyLong_FromLong(r.file_type),
      Text(r.texts[7]),
      Text(r.texts[8]),
      Text(r.texts[9]),
      Text(r.texts[10]),
  };
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

PyObject* ScanFile(PyObject* module, PyObject* path) {
  PyObject* encoded = nullptr;
  if (!PyUnicode_FSConverter(path, &encoded)) return nullptr;
  const char* name = PyBytes_AsString(encoded);
  Collected collected;
  int error;
  Py_BEGIN_ALLOW_THREADS;
  error = zeblix_scan_file(name, Collect, &collected);
  Py_END_ALLOW_THREADS;
  Py_DECREF(encoded);
  PyObject* filename = error != 0 && error != ENOMEM ? PyOS_FSPath(path) : nullptr;
  PyObject* result = Finish(module, collected, error, filename);
  Py_XDECREF(filename);
  return result;
}

PyObject* ScanBytes(PyObject* module, PyObject* data) {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) != 0) return nullptr;
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

std::int64_t ReadFile(void* source, void* buffer, std::size_t size) {
  auto& file = *static_cast<FileSource*>(source);
  const PyGILState_STATE gil = PyGILState_Ensure();
  const Py_ssize_t got = ReadPiece(file, buffer, size);
  if (got < 0) PyErr_Fetch(&file.type, &file.value, &file.traceback);
  PyGILState_Release(gil);
  return got < 0 ? -EIO : got;
}

PyObject* ScanStream(PyObject* module, PyObject* stream) {
  FileSource file{nullptr, nullptr};
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
  return Finish(module, collected, error, nullptr);
}

PyMethodDef kFunctions[] = {
    {  "scan_file",   ScanFile, METH_O,
     "scan_file(path) -> list[Record]\n\nThe records of the file at path (str, bytes or "
     "os.PathLike), in file order; a pipe or device is read to its end. Raises OSError (its "
     "subclass for the errno) with filename."                                                     },
    { "scan_bytes",  ScanBytes, METH_O,
     "scan_bytes(data) -> list[Record]\n\nThe records of bytes in memory as the contents of a "
     "file: any object with the buffer protocol (bytes, bytearray, memoryview, mmap), not copied."},
    {"scan_stream", ScanStream, METH_O,
     "scan_stream(fileobj) -> list[Record]\n\nThe records of a binary file object, read with "
     "readinto() (or read()) to its end in constant memory. An exception its read raises comes "
     "out unchanged."                                                                             },
    {      nullptr,    nullptr,      0,                                                    nullptr},
};

int Execute(PyObject* module) {
  ModuleState& state = StateOf(module);
  state.record_type = PyStructSequence_NewType(&kRecordDesc);
  if (state.record_type == nullptr) return -1;
  if (PyModule_AddObjectRef(module, "Record", reinterpret_cast<PyObject*>(state.record_type)) < 0) {
    return -1;
  }
  return PyModule_AddStringConstant(module, "__version__", zeblix_version());
}

int Traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(StateOf(module).record_type);
  return 0;
}

int Clear(PyObject* module) {
  Py_CLEAR(StateOf(module).record_type);
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(Execute)},
    {          0,                          nullptr}
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT,
    "zeblix",
    "The version records compiled into product files, read by libzeblix.\n\n"
    "scan_file(path), scan_bytes(data) and scan_stream(fileobj) each return the records in file\n"
    "order, as zeblix reports them: every new-format block, or in a file without one the first\n"
    "old-format record. The GIL is released while bytes are scanned.",
    sizeof(ModuleState),
    kFunctions,
    kSlots,
    Traverse,
    Clear,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_zeblix(void) {
  return PyModuleDef_Init(&kModule);
}
