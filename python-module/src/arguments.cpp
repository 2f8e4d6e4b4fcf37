#include "arguments.hpp"

#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace vorn_module {

namespace {

// Runs one conversion; its Python exception leaves with a note naming the parameter.
template <typename Convert>
auto converting(const char* name, Convert&& convert) {
  try {
    return convert();
  } catch (py::error_already_set& error) {
    error.value().attr("add_note")(fmt::format("while processing '{}'", name));
    throw;
  }
}

[[noreturn]] void raise_current() { throw py::error_already_set(); }

std::string expected_array_name(int rank) { return fmt::format("numpy.ndarray[float64, ndim={}]", rank); }

bool is_float64_array(PyObject* value, int rank) {
  if (!py::isinstance<py::array>(value)) return false;
  const auto array = py::reinterpret_borrow<py::array>(value);
  // Equivalence, not a cast: a byte-swapped or other float type is refused.
  return array.ndim() == rank && array.dtype().equal(py::dtype::of<double>());
}

}  // namespace

std::uint64_t to_u64(PyObject* value, const char* name) {
  return converting(name, [value] {
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value));
    if (!index) raise_current();
    const unsigned long long result = PyLong_AsUnsignedLongLong(index.ptr());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) raise_current();
    return static_cast<std::uint64_t>(result);
  });
}

double to_f64(PyObject* value, const char* name) {
  return converting(name, [value] {
    const double result = PyFloat_AsDouble(value);
    if (result == -1.0 && PyErr_Occurred()) raise_current();
    return result;
  });
}

py::array float64_array(PyObject* value, int rank, const char* name) {
  return converting(name, [value, rank] {
    if (!is_float64_array(value, rank)) {
      const auto given = py::str(py::type::handle_of(value).attr("__qualname__")).cast<std::string>();
      const std::string message =
          fmt::format("'{}' object is not an instance of '{}'", given, expected_array_name(rank));
      PyErr_SetString(PyExc_TypeError, message.c_str());
      raise_current();
    }
    return py::reinterpret_borrow<py::array>(value);
  });
}

ketra_autograd::ArrayD copy_array(const py::array& array) {
  const auto rank = static_cast<std::size_t>(array.ndim());
  const std::vector<std::size_t> shape(array.shape(), array.shape() + rank);
  ketra_autograd::ArrayD copy = ketra_autograd::ArrayD::for_overwrite(shape);
  // A vector reads as a single row.
  const std::size_t rows = rank == 2 ? shape[0] : 1;
  const std::size_t columns = shape[rank - 1];
  const py::ssize_t row_stride = rank == 2 ? array.strides(0) : 0;
  const py::ssize_t column_stride = array.strides(rank - 1);
  const char* base = static_cast<const char*>(array.data());
  double* out = copy.data().data();
  for (std::size_t row = 0; row < rows; ++row) {
    for (std::size_t column = 0; column < columns; ++column) {
      const py::ssize_t offset =
          static_cast<py::ssize_t>(row) * row_stride + static_cast<py::ssize_t>(column) * column_stride;
      std::memcpy(out++, base + offset, sizeof(double));  // the array need not be aligned
    }
  }
  return copy;
}

}  // namespace vorn_module
