#pragma once
// Arguments of the module's callables: gathered by the interpreter's own rules for
// argument lists, then converted one by one in parameter order. A conversion that fails
// raises the converter's own exception with the note "while processing '<name>'".
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "interpreter.hpp"
#include "ketra_autograd/ndarray.hpp"

namespace vorn_module {

// The objects passed for N parameters (borrowed), absent ones null. `format` is the
// interpreter's argument-list format, "O" per parameter with "|" before the optional ones
// and ":<function>" at the end; `keywords` names the parameters, null-terminated. Missing,
// surplus and unknown arguments raise the interpreter's standard TypeError.
template <std::size_t N>
std::array<PyObject*, N> gather(PyObject* args, PyObject* kwargs, const char* format,
                                const std::array<const char*, N + 1>& keywords) {
  std::array<PyObject*, N> slots{};
  const bool parsed = std::apply(
      [&](auto&... slot) {
        return PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords.data()), &slot...) != 0;
      },
      slots);
  if (!parsed) throw PythonError{};
  return slots;
}

// Python int (or any object with __index__) to an unsigned 64-bit integer: TypeError for
// other objects, OverflowError for negative or too large values.
std::uint64_t to_u64(PyObject* value, const char* name);
// Python float, int or object with __float__ / __index__ to a double.
double to_f64(PyObject* value, const char* name);

// The elements of a NumPy array of exactly `rank` dimensions whose dtype is equivalent to
// float64, in logical row-major order whatever its strides or alignment; nothing is
// converted, and any other object raises TypeError "'<type>' object is not an instance of
// '<expected>'". Holds no reference to `value` afterwards.
ketra_autograd::ArrayD float64_array(PyObject* value, int rank, const char* name);

}  // namespace vorn_module
