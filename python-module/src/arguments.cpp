#include "arguments.hpp"

#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

namespace vorn_module {

namespace {

// Adds `note` to the exception the interpreter has set; if adding fails, that failure is
// the exception set instead.
void add_note(const std::string& note) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyObject* added = PyObject_CallMethod(value, "add_note", "s", note.c_str());
  if (added == nullptr) {
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return;
  }
  Py_DECREF(added);
  PyErr_Restore(type, value, traceback);
}

// Runs one conversion; its Python exception leaves with a note naming the parameter.
template <typename Convert>
auto converting(const char* name, Convert&& convert) {
  try {
    return convert();
  } catch (const PythonError&) {
    add_note(fmt::format("while processing '{}'", name));
    throw;
  }
}

std::string type_name(PyObject* value) {
  const Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(value)));
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (text == nullptr) throw PythonError{};
  return std::string(text, static_cast<std::size_t>(size));
}

[[noreturn]] void refuse_array(PyObject* value, int rank) {
  raise(PyExc_TypeError,
        fmt::format("'{}' object is not an instance of 'numpy.ndarray[float64, ndim={}]'", type_name(value), rank));
}

bool has_float64_dtype(PyObject* value) {
  const Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));
  const Ref ndarray = Ref::steal(PyObject_GetAttrString(numpy.get(), "ndarray"));
  if (checked(PyObject_IsInstance(value, ndarray.get())) == 0) return false;
  const Ref dtype = Ref::steal(PyObject_GetAttrString(value, "dtype"));
  const Ref float64 = Ref::steal(PyObject_CallMethod(numpy.get(), "dtype", "s", "float64"));
  // Equivalence, not a cast: a byte-swapped or other float type is refused.
  return checked(PyObject_RichCompareBool(dtype.get(), float64.get(), Py_EQ)) != 0;
}

// A read-only view of an object's memory, released at the end of its scope.
class BufferView {
 public:
  explicit BufferView(PyObject* object) { checked(PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO)); }
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() { PyBuffer_Release(&view_); }

  const Py_buffer* operator->() const { return &view_; }

 private:
  Py_buffer view_;
};

// Whether the memory really holds native doubles in `rank` dimensions, as the array's dtype
// said: a subclass may describe itself otherwise, and nothing is read past the buffer.
bool holds_doubles(const BufferView& view, int rank) {
  constexpr char native_order = std::endian::native == std::endian::little ? '<' : '>';
  std::string_view format = view->format != nullptr ? view->format : "B";
  if (format.starts_with('@') || format.starts_with('=') || format.starts_with(native_order)) {
    format.remove_prefix(1);
  }
  return view->ndim == rank && view->itemsize == sizeof(double) && format == "d";
}

ketra_autograd::ArrayD copy_elements(const BufferView& view) {
  const auto rank = static_cast<std::size_t>(view->ndim);
  const std::vector<std::size_t> shape(view->shape, view->shape + rank);
  ketra_autograd::ArrayD copy = ketra_autograd::ArrayD::for_overwrite(shape);
  // A vector reads as a single row.
  const std::size_t rows = rank == 2 ? shape[0] : 1;
  const std::size_t columns = shape[rank - 1];
  const Py_ssize_t row_stride = rank == 2 ? view->strides[0] : 0;
  const Py_ssize_t column_stride = view->strides[rank - 1];
  const char* base = static_cast<const char*>(view->buf);
  double* out = copy.data().data();
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t column = 0; column < columns; ++column) {
      const Py_ssize_t offset =
          static_cast<Py_ssize_t>(row) * row_stride + static_cast<Py_ssize_t>(column) * column_stride;
      std::memcpy(out++, base + offset, sizeof(double));  // the array need not be aligned
    }
  }
  return copy;
}

}  // namespace

std::uint64_t to_u64(PyObject* value, const char* name) {
  return converting(name, [value] {
    const Ref index = Ref::steal(PyNumber_Index(value));
    const unsigned long long result = PyLong_AsUnsignedLongLong(index.get());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    return static_cast<std::uint64_t>(result);
  });
}

double to_f64(PyObject* value, const char* name) {
  return converting(name, [value] {
    const double result = PyFloat_AsDouble(value);
    if (result == -1.0 && PyErr_Occurred()) throw PythonError{};
    return result;
  });
}

ketra_autograd::ArrayD float64_array(PyObject* value, int rank, const char* name) {
  return converting(name, [value, rank] {
    if (!has_float64_dtype(value)) refuse_array(value, rank);
    const BufferView view(value);
    if (!holds_doubles(view, rank)) refuse_array(value, rank);
    return copy_elements(view);
  });
}

}  // namespace vorn_module
