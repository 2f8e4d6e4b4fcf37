#include "native_type.hpp"

#include <pybind11/gil_safe_call_once.h>

namespace vorn_module {

py::handle panic_exception() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> storage;
  return storage
      .call_once_and_store_result([] {
        PyObject* type = PyErr_NewExceptionWithDoc(
            "vorn.PanicException",
            "A violated invariant inside the native code. Derived from BaseException, so that\n"
            "`except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
        if (type == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(type);
      })
      .get_stored();
}

}  // namespace vorn_module
