#pragma once
// Python classes that own one native value each, built as the interpreter's own heap types
// from a table of slots: methods are method descriptors and attributes getset
// descriptors, so that __text_signature__, inspect.signature and "cannot create ...
// instances" behave exactly as for the interpreter's built-in classes.
#include <Python.h>

#include <exception>
#include <functional>
#include <new>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "support/panic.hpp"

namespace vorn_module {

namespace py = pybind11;

// The exception type of a violated invariant in the native code, derived from
// BaseException so that `except Exception` does not swallow it. One per process.
py::handle panic_exception();

template <typename T>
struct Boxed {
  PyObject_HEAD
  T value;
};

// A new instance of `type` that owns `value`.
template <typename T>
py::object box(PyTypeObject* type, T value) {
  PyObject* object = type->tp_alloc(type, 0);
  if (object == nullptr) throw py::error_already_set();
  new (&reinterpret_cast<Boxed<T>*>(object)->value) T(std::move(value));
  return py::reinterpret_steal<py::object>(object);
}

// The value of an instance; descriptors only ever hand over instances of their own type.
template <typename T>
const T& unbox(PyObject* self) {
  return reinterpret_cast<Boxed<T>*>(self)->value;
}

template <typename T>
void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<Boxed<T>*>(self)->value.~T();
  type->tp_free(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// Runs `body` for the interpreter: its new reference, or null with the Python error set.
// C++ exceptions never cross into the interpreter.
template <typename Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return std::invoke(std::forward<Body>(body)).release().ptr();
  } catch (py::error_already_set& error) {
    error.restore();
  } catch (const py::builtin_exception& error) {
    error.set_error();
  } catch (const support::Panic& panic) {
    PyErr_SetString(panic_exception().ptr(), panic.message().c_str());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return nullptr;
}

// Entry points of the method table. A method receives its instance's value.
template <typename T, py::object (*Method)(const T&, PyObject* args, PyObject* kwargs)>
PyObject* method_with_arguments(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return Method(unbox<T>(self), args, kwargs); });
}
template <typename T, py::object (*Method)(const T&)>
PyObject* method_without_arguments(PyObject* self, PyObject*) noexcept {
  return guarded([&] { return Method(unbox<T>(self)); });
}
// A read-only attribute: the member or member function's result, converted anew each time.
template <typename T, auto Member>
PyObject* getter(PyObject* self, void*) noexcept {
  return guarded([&] { return py::cast(std::invoke(Member, unbox<T>(self))); });
}

// Method-table entries from the typed entry points above.
template <typename Entry>
PyCFunction as_method(Entry entry) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// A final class named `qualified_name` ("vorn.X") whose instances hold a T; `slots`
// without the deallocator and the closing entry.
template <typename T>
py::object make_type(const char* qualified_name, std::vector<PyType_Slot> slots) {
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)});
  slots.push_back({0, nullptr});
  PyType_Spec layout{qualified_name, static_cast<int>(sizeof(Boxed<T>)), 0,
                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
  bool constructible = false;
  for (const PyType_Slot& slot : slots) constructible = constructible || slot.slot == Py_tp_new;
  if (!constructible) layout.flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyObject* type = PyType_FromSpec(&layout);
  if (type == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(type);
}

}  // namespace vorn_module
