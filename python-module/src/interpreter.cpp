#include "interpreter.hpp"

namespace vorn_module {

PyObject* checked(PyObject* object) {
  if (object == nullptr) throw PythonError{};
  return object;
}

int checked(int result) {
  if (result < 0) throw PythonError{};
  return result;
}

void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw PythonError{};
}

Ref to_python(const std::string& text) {
  return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref to_python(double value) { return Ref::steal(PyFloat_FromDouble(value)); }

Ref to_python(std::uint64_t value) { return Ref::steal(PyLong_FromUnsignedLongLong(value)); }

}  // namespace vorn_module
