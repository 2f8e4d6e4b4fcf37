#pragma once
// The binding's footing on the interpreter's limited API: owned references, Python errors
// as C++ exceptions, conversions of native values, and running without the interpreter lock.
#include <Python.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace vorn_module {

// The interpreter's error indicator is set; whoever returns to the interpreter returns null.
struct PythonError {};

// `object`, or PythonError when it is null (the interpreter has set its error).
PyObject* checked(PyObject* object);
// A status or predicate of the C API: `result`, or PythonError when it is negative (the
// interpreter has set its error).
int checked(int result);

// Sets the interpreter's error to `type` with `message`, then throws PythonError.
[[noreturn]] void raise(PyObject* type, const std::string& message);

// One owned (strong) reference, released at the end of its scope; needs the interpreter lock.
class Ref {
 public:
  // Takes over a new reference; a null one throws PythonError.
  static Ref steal(PyObject* object) { return Ref(checked(object)); }
  static Ref borrow(PyObject* object) {
    Py_INCREF(object);
    return Ref(object);
  }

  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&&) = delete;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  // Hands the reference over to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit Ref(PyObject* object) : object_(object) {}

  PyObject* object_;
};

// Native values as new Python objects: str, float and int.
Ref to_python(const std::string& text);
Ref to_python(double value);
Ref to_python(std::uint64_t value);

// Runs `work` without the interpreter lock and returns its result; `work` touches no Python
// object. The caller holds no Ref across this call: when the interpreter is shutting down,
// a thread that asks for the lock back is ended by a forced unwind, which passes through
// here and through the caller untouched and must release nothing of the interpreter's.
template <typename Work>
auto without_interpreter_lock(Work&& work) {
  std::optional<std::invoke_result_t<Work>> result;
  PyThreadState* const state = PyEval_SaveThread();
  try {
    result.emplace(std::invoke(std::forward<Work>(work)));
  } catch (...) {
    PyEval_RestoreThread(state);
    throw;
  }
  PyEval_RestoreThread(state);
  return std::move(*result);
}

}  // namespace vorn_module
