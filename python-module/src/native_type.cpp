#include "native_type.hpp"

namespace vorn_module {

namespace {

constexpr const char* runtime_module = "vorn_runtime";

Ref make_panic_exception() {
  Ref type = Ref::steal(
      PyErr_NewExceptionWithDoc("vorn_runtime.PanicException",
                                "A violated invariant inside the native code. Derived from BaseException, so that\n"
                                "`except Exception` does not swallow it.",
                                PyExc_BaseException, nullptr));
  // Borrowed: sys.modules keeps the module, which keeps the type.
  PyObject* home = checked(PyImport_AddModule(runtime_module));
  checked(PyModule_SetDocString(home, "Runtime support of the vorn module: the exception type of its panics."));
  checked(PyModule_AddObjectRef(home, "PanicException", type.get()));
  return type;
}

}  // namespace

PyObject* panic_exception() {
  // Made and used with the interpreter lock held; never released, like the classes.
  static PyObject* type = nullptr;
  if (type == nullptr) type = make_panic_exception().release();
  return type;
}

}  // namespace vorn_module
