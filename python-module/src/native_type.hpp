#pragma once
// Python classes that own one native value each, built as the interpreter's own heap types
// from a table of slots: methods are method descriptors and attributes getset
// descriptors, so that __text_signature__, inspect.signature and "cannot create ...
// instances" behave exactly as for the interpreter's built-in classes.
#include <Python.h>

#include <functional>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "interpreter.hpp"
#include "support/panic.hpp"

namespace vorn_module {

// The exception type of a violated invariant in the native code, derived from
// BaseException so that `except Exception` does not swallow it. Made once per process by the
// first call (the module's execution, before any class exists), as PanicException of the
// module vorn_runtime registered in sys.modules; vorn's own namespace keeps only its classes.
PyObject* panic_exception();

template <typename T>
struct Boxed {
  PyObject_HEAD T value;
};

// A new instance of `type` that owns `value`.
template <typename T>
Ref box(PyTypeObject* type, T value) {
  static_assert(std::is_nothrow_move_constructible_v<T>, "a half-made instance would be freed as a whole");
  const auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  Ref object = Ref::steal(allocate(type, 0));
  new (&reinterpret_cast<Boxed<T>*>(object.get())->value) T(std::move(value));
  return object;
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
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// Runs `body` for the interpreter: true, or false with the Python error set. C++ exceptions
// never cross into the interpreter, except the forced unwind that ends a thread at
// shutdown, which passes: no catch-all here, and nothing on the way is noexcept.
template <typename Body>
bool translating(Body&& body) {
  try {
    std::invoke(std::forward<Body>(body));
    return true;
  } catch (const PythonError&) {
  } catch (const support::Panic& panic) {
    PyErr_SetString(panic_exception(), panic.message().c_str());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    PyErr_SetString(PyExc_SystemError, error.what());
  }
  return false;
}

// `body`'s new reference for the interpreter, or null with the Python error set.
template <typename Body>
PyObject* guarded(Body&& body) {
  PyObject* result = nullptr;
  translating([&] { result = std::invoke(std::forward<Body>(body)).release(); });
  return result;
}

// Entry points of the method table. A method receives its instance's value.
template <typename T, Ref (*Method)(const T&, PyObject* args, PyObject* kwargs)>
PyObject* method_with_arguments(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return Method(unbox<T>(self), args, kwargs); });
}
template <typename T, Ref (*Method)(const T&)>
PyObject* method_without_arguments(PyObject* self, PyObject*) {
  return guarded([&] { return Method(unbox<T>(self)); });
}
// A read-only attribute: the member or member function's result, converted anew each time.
template <typename T, auto Member>
PyObject* getter(PyObject* self, void*) {
  return guarded([&] { return to_python(std::invoke(Member, unbox<T>(self))); });
}

// Method-table entries from the typed entry points above.
template <typename Entry>
PyCFunction as_method(Entry entry) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// A final class named `qualified_name` ("vorn.X") whose instances hold a T; `slots`
// without the deallocator and the closing entry.
template <typename T>
Ref make_type(const char* qualified_name, std::vector<PyType_Slot> slots) {
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>)});
  slots.push_back({0, nullptr});
  PyType_Spec layout{qualified_name, static_cast<int>(sizeof(Boxed<T>)), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots.data()};
  bool constructible = false;
  for (const PyType_Slot& slot : slots) constructible = constructible || slot.slot == Py_tp_new;
  if (!constructible) layout.flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  return Ref::steal(PyType_FromSpec(&layout));
}

}  // namespace vorn_module
