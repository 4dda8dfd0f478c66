// dbgparse._dbgparse: the library's C interface (dbgparse.h) for Python,
// compiled together with the library's own sources, so that nothing has to be
// found at run time. The package's __init__.py registers the result types
// (Entry, Diagnostic, the warning kinds, MalformedTableError) once; the functions
// here fill them in C, since a table may hold millions of entries.
//
// Inputs are any object with a contiguous buffer (bytes, bytearray,
// memoryview, mmap). Inputs of LARGE_INPUT bytes or more are worked on with
// the GIL released: the library then writes only into C++ containers, and
// the Python objects are made once it is back.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "dbgparse.h"

namespace {

constexpr std::size_t large_input = std::size_t{64} * 1024;

// The types __init__.py registers: tuple subclasses of 4 fields each, the
// members of WarningKind by value, and the exception class.
PyTypeObject* entry_type = nullptr;
PyTypeObject* warning_type = nullptr;
PyObject* warning_kinds = nullptr;  // a tuple: index = kind
PyObject* malformed_error = nullptr;

// A contiguous read-only view of a bytes-like argument, released on scope exit.
class input_view {
 public:
  input_view() = default;
  input_view(const input_view&) = delete;
  input_view& operator=(const input_view&) = delete;
  ~input_view() {
    if (held_) {
      PyBuffer_Release(&view_);
    }
  }

  bool take(PyObject* object) {
    if (PyUnicode_Check(object)) {
      PyErr_SetString(PyExc_TypeError, "a bytes-like object is required, not 'str'");
      return false;
    }
    held_ = PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) == 0;
    return held_;
  }
  [[nodiscard]] const unsigned char* data() const {
    return static_cast<const unsigned char*>(view_.buf);
  }
  [[nodiscard]] std::size_t size() const { return static_cast<std::size_t>(view_.len); }
  [[nodiscard]] bool large() const { return size() >= large_input; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

// Runs `work` without the GIL when `release` is set.
template <typename Work>
void run_unlocked(bool release, Work&& work) {
  if (!release) {
    work();
    return;
  }
  PyThreadState* const state = PyEval_SaveThread();
  work();
  PyEval_RestoreThread(state);
}

// Bytes handed over by a sink; never lets an exception out of the sink.
struct byte_collector {
  std::vector<unsigned char> bytes;
  bool out_of_memory = false;

  static int take(void* context, const unsigned char* data, std::size_t size) {
    auto* self = static_cast<byte_collector*>(context);
    try {
      self->bytes.insert(self->bytes.end(), data, data + size);
      return 0;
    } catch (const std::bad_alloc&) {
      self->out_of_memory = true;
      return 1;
    }
  }
};

// A warning copied out of the library: its message as an index into the
// collector's texts, each distinct text kept once (millions of warnings
// mostly say a few things).
struct warning_copy {
  int kind;
  std::size_t line;
  std::size_t offset;
  std::size_t message;
};

struct warning_collector {
  std::vector<warning_copy> warnings;
  std::vector<std::string> texts;
  std::unordered_map<std::string, std::size_t> text_index;
  // dbgparse_list's DBGPARSE_WARNING_MALFORMED: where the table breaks.
  bool malformed = false;
  std::size_t fault_offset = 0;
  std::string fault_reason;
  bool out_of_memory = false;
  // The most warnings kept: reaching it stops the walk.
  std::size_t most = SIZE_MAX;
  bool full = false;

  static int take(void* context, const dbgparse_warning* warning) {
    auto* self = static_cast<warning_collector*>(context);
    if (self->warnings.size() == self->most) {
      self->full = true;
      return 1;
    }
    try {
      if (warning->kind == DBGPARSE_WARNING_MALFORMED) {
        self->malformed = true;
        self->fault_offset = warning->offset;
        self->fault_reason = warning->message;
        return 0;
      }
      const auto [found, added] =
          self->text_index.try_emplace(warning->message, self->texts.size());
      if (added) {
        self->texts.emplace_back(warning->message);
      }
      self->warnings.push_back({warning->kind, warning->line, warning->offset, found->second});
      return 0;
    } catch (const std::bad_alloc&) {
      self->out_of_memory = true;
      return 1;
    }
  }
};

// Sets the Python exception for a status other than DBGPARSE_OK; returns NULL.
PyObject* raise_status(int status, bool out_of_memory) {
  if (status == DBGPARSE_ERROR_NO_MEMORY || out_of_memory) {
    return PyErr_NoMemory();
  }
  PyErr_Format(PyExc_RuntimeError, "dbgparse: %s", dbgparse_status_text(status));
  return nullptr;
}

PyObject* raise_malformed(std::size_t offset, const char* reason) {
  PyObject* error = PyObject_CallFunction(malformed_error, "ns", static_cast<Py_ssize_t>(offset),
                                          reason != nullptr ? reason : "");
  if (error != nullptr) {
    PyErr_SetObject(malformed_error, error);
    Py_DECREF(error);
  }
  return nullptr;
}

bool registered() {
  if (entry_type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "dbgparse._dbgparse is used before dbgparse registered");
    return false;
  }
  return true;
}

// A new instance of a registered 4-field tuple subclass, made as tuple's own
// constructor makes one, taking the references to its items (NULL items: a
// failure is already set, and the instance is dropped).
PyObject* make_record(PyTypeObject* type, PyObject* a, PyObject* b, PyObject* c, PyObject* d) {
  PyObject* record = nullptr;
  if (a != nullptr && b != nullptr && c != nullptr && d != nullptr) {
    record = type->tp_alloc(type, 4);
  }
  if (record == nullptr) {
    Py_XDECREF(a);
    Py_XDECREF(b);
    Py_XDECREF(c);
    Py_XDECREF(d);
    return nullptr;
  }
  PyTuple_SET_ITEM(record, 0, a);
  PyTuple_SET_ITEM(record, 1, b);
  PyTuple_SET_ITEM(record, 2, c);
  PyTuple_SET_ITEM(record, 3, d);
  return record;
}

PyObject* make_warning(const warning_copy& warning, PyObject* message) {
  PyObject* kind = nullptr;
  if (warning.kind >= 0 && warning.kind < PyTuple_GET_SIZE(warning_kinds)) {
    kind = PyTuple_GET_ITEM(warning_kinds, warning.kind);
    Py_INCREF(kind);
  } else {
    kind = PyLong_FromLong(warning.kind);
  }
  Py_INCREF(message);
  return make_record(warning_type, kind, PyLong_FromSize_t(warning.line),
                     PyLong_FromSize_t(warning.offset), message);
}

// The warnings as a list; warnings that say the same share one str.
PyObject* make_warning_list(const warning_collector& found) {
  PyObject* texts = PyTuple_New(static_cast<Py_ssize_t>(found.texts.size()));
  if (texts == nullptr) {
    return nullptr;
  }
  for (std::size_t i = 0; i < found.texts.size(); ++i) {
    PyObject* text = PyUnicode_DecodeASCII(
        found.texts[i].data(), static_cast<Py_ssize_t>(found.texts[i].size()), "replace");
    if (text == nullptr) {
      Py_DECREF(texts);
      return nullptr;
    }
    PyTuple_SET_ITEM(texts, static_cast<Py_ssize_t>(i), text);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(found.warnings.size()));
  if (list == nullptr) {
    Py_DECREF(texts);
    return nullptr;
  }
  for (std::size_t i = 0; i < found.warnings.size(); ++i) {
    const warning_copy& copy = found.warnings[i];
    PyObject* warning =
        make_warning(copy, PyTuple_GET_ITEM(texts, static_cast<Py_ssize_t>(copy.message)));
    if (warning == nullptr) {
      Py_DECREF(texts);
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), warning);
  }
  Py_DECREF(texts);
  return list;
}

// The outcome of reading a whole table: its entry count, or its fault.
struct table_walk {
  int status = DBGPARSE_OK;
  std::size_t entries = 0;
  std::size_t offset = 0;
  const char* reason = nullptr;
};

table_walk walk_table(const unsigned char* table, std::size_t size) {
  table_walk walk;
  dbgparse_entry entry{};
  while ((walk.status = dbgparse_next_entry(table, size, &walk.offset, &entry, &walk.reason)) ==
         DBGPARSE_OK) {
    ++walk.entries;
  }
  return walk;
}

// Raises for a walk that did not reach the end marker; NULL then.
bool walk_ended(const table_walk& walk) {
  if (walk.status == DBGPARSE_END) {
    return true;
  }
  if (walk.status == DBGPARSE_ERROR_MALFORMED) {
    raise_malformed(walk.offset, walk.reason);
  } else {
    raise_status(walk.status, false);
  }
  return false;
}

PyObject* version(PyObject* /*module*/, PyObject* /*unused*/) {
  return PyUnicode_FromString(dbgparse_version());
}

PyObject* register_types(PyObject* /*module*/, PyObject* args) {
  PyObject* entry = nullptr;
  PyObject* warning = nullptr;
  PyObject* kinds = nullptr;
  PyObject* error = nullptr;
  if (PyArg_ParseTuple(args, "O!O!O!O:_register", &PyType_Type, &entry, &PyType_Type, &warning,
                       &PyTuple_Type, &kinds, &error) == 0) {
    return nullptr;
  }
  for (PyObject* type : {entry, warning}) {
    auto* tuple_type = reinterpret_cast<PyTypeObject*>(type);
    // A tuple subclass without instance dictionaries, as typing.NamedTuple
    // makes: its instances are tuples through and through.
    if (PyType_IsSubtype(tuple_type, &PyTuple_Type) == 0 || tuple_type->tp_dictoffset != 0 ||
        tuple_type->tp_basicsize != PyTuple_Type.tp_basicsize) {
      PyErr_SetString(PyExc_TypeError, "_register: a named tuple type is required");
      return nullptr;
    }
  }
  if (PyObject_IsSubclass(error, PyExc_Exception) != 1) {
    PyErr_SetString(PyExc_TypeError, "_register: an exception class is required");
    return nullptr;
  }
  Py_INCREF(entry);
  Py_INCREF(warning);
  Py_INCREF(kinds);
  Py_INCREF(error);
  Py_XSETREF(entry_type, reinterpret_cast<PyTypeObject*>(entry));
  Py_XSETREF(warning_type, reinterpret_cast<PyTypeObject*>(warning));
  Py_XSETREF(warning_kinds, kinds);
  Py_XSETREF(malformed_error, error);
  Py_RETURN_NONE;
}

PyObject* convert(PyObject* /*module*/, PyObject* data) {
  input_view input;
  if (!input.take(data)) {
    return nullptr;
  }
  // Into a bytes object of the size dbgparse.h says to try first, then, if
  // the table is longer, of its own size; cut to the table's length.
  std::size_t capacity = DBGPARSE_TABLE_GUESS(input.size());
  for (;;) {
    if (capacity > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
      return PyErr_NoMemory();
    }
    PyObject* table = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(capacity));
    if (table == nullptr) {
      return nullptr;
    }
    auto* into = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(table));
    std::size_t length = 0;
    int status = DBGPARSE_OK;
    run_unlocked(input.large(), [&] {
      status = dbgparse_convert_to(input.data(), input.size(), into, capacity, &length);
    });
    if (status == DBGPARSE_OK) {
      if (_PyBytes_Resize(&table, static_cast<Py_ssize_t>(length)) != 0) {
        return nullptr;
      }
      return table;
    }
    Py_DECREF(table);
    if (status != DBGPARSE_ERROR_TOO_SMALL) {
      return raise_status(status, false);
    }
    capacity = length;
  }
}

PyObject* entries(PyObject* /*module*/, PyObject* data) {
  if (!registered()) {
    return nullptr;
  }
  input_view input;
  if (!input.take(data)) {
    return nullptr;
  }
  // The whole table is read once before any object is made, so that a
  // broken one raises without a partial list and a sound one gets a list of
  // the right length at once.
  table_walk walk;
  run_unlocked(input.large(), [&] { walk = walk_table(input.data(), input.size()); });
  if (!walk_ended(walk)) {
    return nullptr;
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(walk.entries));
  if (list == nullptr) {
    return nullptr;
  }
  std::size_t offset = 0;
  dbgparse_entry entry{};
  for (std::size_t i = 0; i < walk.entries; ++i) {
    const std::size_t at = offset;
    if (dbgparse_next_entry(input.data(), input.size(), &offset, &entry, nullptr) != DBGPARSE_OK) {
      // The buffer changed under us (a bytearray written by another thread).
      Py_DECREF(list);
      PyErr_SetString(PyExc_RuntimeError, "the table changed while it was read");
      return nullptr;
    }
    PyObject* record =
        make_record(entry_type, PyLong_FromUnsignedLong(entry.checksum),
                    PyBytes_FromStringAndSize(reinterpret_cast<const char*>(entry.name),
                                              static_cast<Py_ssize_t>(entry.name_length)),
                    PyLong_FromSize_t(entry.padding), PyLong_FromSize_t(at));
    if (record == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    // Integers and bytes alone: no cycle can run through it, so the
    // collector need not visit it (tuples of such items are untracked by
    // the collector itself once it has looked at them).
    PyObject_GC_UnTrack(record);
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), record);
  }
  return list;
}

PyObject* listing(PyObject* /*module*/, PyObject* data) {
  if (!registered()) {
    return nullptr;
  }
  input_view input;
  if (!input.take(data)) {
    return nullptr;
  }
  byte_collector text;
  warning_collector left_out;
  int status = DBGPARSE_OK;
  run_unlocked(input.large(), [&] {
    status = dbgparse_list(input.data(), input.size(), &byte_collector::take, &text,
                           &warning_collector::take, &left_out);
  });
  if (status == DBGPARSE_ERROR_MALFORMED && left_out.malformed) {
    return raise_malformed(left_out.fault_offset, left_out.fault_reason.c_str());
  }
  if (status != DBGPARSE_OK) {
    return raise_status(status, text.out_of_memory || left_out.out_of_memory);
  }
  PyObject* bytes = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(text.bytes.data()),
                                              static_cast<Py_ssize_t>(text.bytes.size()));
  if (bytes == nullptr) {
    return nullptr;
  }
  PyObject* warnings = make_warning_list(left_out);
  if (warnings == nullptr) {
    Py_DECREF(bytes);
    return nullptr;
  }
  return Py_BuildValue("(NN)", bytes, warnings);
}

PyObject* diagnose(PyObject* /*module*/, PyObject* arguments) {
  if (!registered()) {
    return nullptr;
  }
  PyObject* data = nullptr;
  PyObject* most = Py_None;
  if (PyArg_ParseTuple(arguments, "O|O", &data, &most) == 0) {
    return nullptr;
  }
  warning_collector found;
  if (most != Py_None) {
    const Py_ssize_t limit = PyNumber_AsSsize_t(most, PyExc_OverflowError);
    if (limit == -1 && PyErr_Occurred() != nullptr) {
      return nullptr;
    }
    if (limit < 0) {
      PyErr_SetString(PyExc_ValueError, "most must be at least 0");
      return nullptr;
    }
    found.most = static_cast<std::size_t>(limit);
  }
  input_view input;
  if (!input.take(data)) {
    return nullptr;
  }
  int status = DBGPARSE_OK;
  run_unlocked(input.large(), [&] {
    status = dbgparse_diagnose(input.data(), input.size(), &warning_collector::take, &found);
  });
  if (status == DBGPARSE_ERROR_STOPPED && found.full) {
    status = DBGPARSE_OK;
  }
  if (status != DBGPARSE_OK) {
    return raise_status(status, found.out_of_memory);
  }
  return make_warning_list(found);
}

PyMethodDef methods[] = {
    {"version", version, METH_NOARGS, "The library's version, \"MAJOR.MINOR.PATCH\"."},
    {"_register", register_types, METH_VARARGS,
     "_register(Entry, Diagnostic, kinds, MalformedTableError): the types results are made of."},
    {"convert", convert, METH_O, "convert(data) -> bytes: the QB table of a DBG file."},
    {"entries", entries, METH_O, "entries(table) -> list[Entry]: a table's entries."},
    {"listing", listing, METH_O,
     "listing(table) -> (bytes, list[Diagnostic]): the DBG listing and the entries left out."},
    {"diagnose", diagnose, METH_VARARGS,
     "diagnose(data, most=None) -> list[Diagnostic]: a conversion's first `most` warnings."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "dbgparse._dbgparse",
    "libdbgparse compiled in: see the dbgparse package for the documented interface.",
    -1,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__dbgparse() { return PyModule_Create(&module_definition); }
