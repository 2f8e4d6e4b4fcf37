// The Python module vorn: the discovery settings, the Pareto front and its solutions, as
// the classes Discoverer, DiscoveryResult and Solution. Only conversion lives here; the
// discovery itself is the engine's.
#include <Python.h>

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "arguments.hpp"
#include "interpreter.hpp"
#include "native_type.hpp"
#include "support/debug_text.hpp"
#include "support/number_text.hpp"
#include "vorn_core/dataset.hpp"
#include "vorn_core/discoverer.hpp"
#include "vorn_core/error.hpp"
#include "vorn_core/pareto.hpp"
#include "vorn_core/solution.hpp"

namespace vorn_module {
namespace {

using ketra_autograd::ArrayD;
using vorn_core::dataset::DataSet;
using vorn_core::discoverer::Discoverer;
using vorn_core::error::VornError;
using vorn_core::pareto::ParetoFront;
using vorn_core::solution::Solution;

// Class and method texts start with their signature in the interpreter's
// "signature\n--\n\n" form, from which __text_signature__ and __doc__ are derived.
constexpr const char* module_doc = "The `vorn` Python extension module.";
constexpr const char* discoverer_doc =
    "Discoverer(population=256, max_depth=3, max_epochs=1000, learning_rate=0.05, seed=0, top_k=5, "
    "lambda_complexity=..., lambda_sparsity=..., lambda_parsimony=...)\n--\n\n"
    "Differentiable symbolic discovery driver.\n\n"
    "Constructed with hyperparameters; call `fit` with NumPy arrays to run\n"
    "discovery. The expensive compute releases the GIL.";
constexpr const char* fit_doc =
    "fit($self, x, y)\n--\n\n"
    "Run discovery on `x` (2D, rows \u00d7 n_vars) and `y` (1D) NumPy float64 arrays.\n\n"
    "Returns a [`DiscoveryResult`]. Raises `ValueError` on shape/numeric errors.";
constexpr const char* result_doc =
    "The Pareto front returned by `Discoverer::fit`.\n\n"
    "Wraps a [`vorn_core::ParetoFront`] and exposes convenient accessors for the\n"
    "top-`k` solutions.";
constexpr const char* solution_doc =
    "A single discovered closed-form expression and its quality metrics.\n\n"
    "Instances are produced by [`DiscoveryResult`] accessors and are read-only.";

// The class objects, made by the module's first execution and shared by every module object
// of the process; never released. Used only with the interpreter lock held.
struct Classes {
  PyTypeObject* discoverer;
  PyTypeObject* result;
  PyTypeObject* solution;
};
const Classes* classes = nullptr;

// ---- Solution ----

std::string solution_repr(const Solution& member) {
  return fmt::format("Solution(pretty={}, mse={}, complexity={})", support::debug_str(member.pretty()),
                     support::shortest(member.mse), member.complexity);
}

PyObject* repr_of_solution(PyObject* self) {
  return guarded([self] { return to_python(solution_repr(unbox<Solution>(self))); });
}

Ref make_solution_type() {
  static PyGetSetDef attributes[] = {
      {"latex", &getter<Solution, &Solution::latex>, nullptr, "LaTeX rendering of the expression.", nullptr},
      {"pretty", &getter<Solution, &Solution::pretty>, nullptr, "Human-readable infix rendering of the expression.",
       nullptr},
      {"rust_code", &getter<Solution, &Solution::rust_code>, nullptr, "Rust source code that evaluates the expression.",
       nullptr},
      {"numpy_code", &getter<Solution, &Solution::numpy_code>, nullptr,
       "NumPy/Python source code that evaluates the expression.", nullptr},
      {"sympy_code", &getter<Solution, &Solution::sympy_code>, nullptr,
       "SymPy source code that constructs the expression.", nullptr},
      {"mse", &getter<Solution, &Solution::mse>, nullptr, "Mean squared error of the expression on the training data.",
       nullptr},
      {"complexity", &getter<Solution, &Solution::complexity>, nullptr,
       "Structural complexity (node count) of the expression.", nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr}};
  return make_type<Solution>("vorn.Solution", {{Py_tp_doc, const_cast<char*>(solution_doc)},
                                               {Py_tp_getset, attributes},
                                               {Py_tp_repr, reinterpret_cast<void*>(&repr_of_solution)}});
}

// A new Solution object with its own copy of the member (the tree is shared).
Ref solution_object(const Solution& member) { return box(classes->solution, member); }

// ---- DiscoveryResult ----

// One selection of pareto_top(k), rendered member by member, so that top, top_latex and
// top_sympy always correspond.
template <Ref (*Render)(const Solution&)>
Ref top_members(const ParetoFront& front, PyObject* args, PyObject* kwargs, const char* format) {
  const auto [k_arg] = gather<1>(args, kwargs, format, {"k", nullptr});
  const std::uint64_t k = to_u64(k_arg, "k");
  Ref members = Ref::steal(PyList_New(0));
  for (const Solution* member : front.pareto_top(k)) {
    checked(PyList_Append(members.get(), Render(*member).get()));
  }
  return members;
}

Ref latex_text(const Solution& member) { return to_python(member.latex()); }
Ref sympy_text(const Solution& member) { return to_python(member.sympy_code()); }

Ref top(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<solution_object>(front, args, kwargs, "O:top");
}
Ref top_latex(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<latex_text>(front, args, kwargs, "O:top_latex");
}
Ref top_sympy(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<sympy_text>(front, args, kwargs, "O:top_sympy");
}

Ref best(const ParetoFront& front) {
  const Solution* member = front.best();
  return member != nullptr ? solution_object(*member) : Ref::borrow(Py_None);
}

Py_ssize_t front_length(PyObject* self) noexcept { return static_cast<Py_ssize_t>(unbox<ParetoFront>(self).size()); }

Ref make_result_type() {
  constexpr int with_arguments = METH_VARARGS | METH_KEYWORDS;
  static PyMethodDef methods[] = {
      {"top", as_method(&method_with_arguments<ParetoFront, top>), with_arguments,
       "top($self, k)\n--\n\nReturn the top-`k` Pareto-optimal solutions as [`PySolution`] objects."},
      {"top_latex", as_method(&method_with_arguments<ParetoFront, top_latex>), with_arguments,
       "top_latex($self, k)\n--\n\nReturn the LaTeX strings of the top-`k` Pareto-optimal solutions."},
      {"top_sympy", as_method(&method_with_arguments<ParetoFront, top_sympy>), with_arguments,
       "top_sympy($self, k)\n--\n\nReturn the SymPy source strings of the top-`k` Pareto-optimal solutions."},
      {"best", as_method(&method_without_arguments<ParetoFront, best>), METH_NOARGS,
       "best($self)\n--\n\nReturn the single best solution, or `None` if the front is empty."},
      {nullptr, nullptr, 0, nullptr}};
  return make_type<ParetoFront>("vorn.DiscoveryResult", {{Py_tp_doc, const_cast<char*>(result_doc)},
                                                         {Py_tp_methods, methods},
                                                         {Py_mp_length, reinterpret_cast<void*>(&front_length)}});
}

// ---- Discoverer ----

void set_field(Discoverer& config, std::uint64_t Discoverer::*field, PyObject* value, const char* name) {
  if (value != nullptr) config.*field = to_u64(value, name);
}
void set_field(Discoverer& config, double Discoverer::*field, PyObject* value, const char* name) {
  if (value != nullptr) config.*field = to_f64(value, name);
}

// The nine settings in parameter order; absent ones keep the record's defaults, and the
// record's four fixed values are never parameters. No range is checked.
Discoverer make_discoverer(PyObject* args, PyObject* kwargs) {
  static constexpr std::array<const char*, 10> names{
      "population", "max_depth",         "max_epochs",      "learning_rate",    "seed",
      "top_k",      "lambda_complexity", "lambda_sparsity", "lambda_parsimony", nullptr};
  const auto given = gather<9>(args, kwargs, "|OOOOOOOOO:Discoverer", names);
  Discoverer config;
  set_field(config, &Discoverer::population, given[0], names[0]);
  set_field(config, &Discoverer::max_depth, given[1], names[1]);
  set_field(config, &Discoverer::max_epochs, given[2], names[2]);
  set_field(config, &Discoverer::learning_rate, given[3], names[3]);
  set_field(config, &Discoverer::seed, given[4], names[4]);
  set_field(config, &Discoverer::top_k, given[5], names[5]);
  set_field(config, &Discoverer::lambda_complexity, given[6], names[6]);
  set_field(config, &Discoverer::lambda_sparsity, given[7], names[7]);
  set_field(config, &Discoverer::lambda_parsimony, given[8], names[8]);
  return config;
}

PyObject* new_discoverer(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return box(type, make_discoverer(args, kwargs)); });
}

// Runs without the interpreter lock: touches no Python object.
std::expected<ParetoFront, VornError> discover(const Discoverer& config, ArrayD x, ArrayD y) {
  const std::expected<DataSet, VornError> data = DataSet::from_arrays(std::move(x), std::move(y));
  if (!data) return std::unexpected(data.error());
  return config.fit(*data);
}

// The arrays are copied, and every reference this call took is released, before the
// discovery runs without the interpreter lock.
Ref fit(const Discoverer& self, PyObject* args, PyObject* kwargs) {
  const auto [x_arg, y_arg] = gather<2>(args, kwargs, "OO:fit", {"x", "y", nullptr});
  ArrayD x = float64_array(x_arg, 2, "x");
  ArrayD y = float64_array(y_arg, 1, "y");
  const Discoverer config = self;
  std::expected<ParetoFront, VornError> front =
      without_interpreter_lock([&] { return discover(config, std::move(x), std::move(y)); });
  if (!front) raise(PyExc_ValueError, front.error().to_string());
  return box(classes->result, std::move(*front));
}

Ref make_discoverer_type() {
  static PyMethodDef methods[] = {
      {"fit", as_method(&method_with_arguments<Discoverer, fit>), METH_VARARGS | METH_KEYWORDS, fit_doc},
      {nullptr, nullptr, 0, nullptr}};
  return make_type<Discoverer>("vorn.Discoverer", {{Py_tp_doc, const_cast<char*>(discoverer_doc)},
                                                   {Py_tp_methods, methods},
                                                   {Py_tp_new, reinterpret_cast<void*>(&new_discoverer)}});
}

// ---- the module ----

void add_classes(PyObject* module) {
  panic_exception();  // made before any native code can panic
  if (classes == nullptr) {
    Ref discoverer = make_discoverer_type();
    Ref result = make_result_type();
    Ref solution = make_solution_type();
    classes = new Classes{reinterpret_cast<PyTypeObject*>(discoverer.release()),
                          reinterpret_cast<PyTypeObject*>(result.release()),
                          reinterpret_cast<PyTypeObject*>(solution.release())};
  }
  // Each under its name after "vorn.", in this order.
  for (PyTypeObject* type : {classes->discoverer, classes->result, classes->solution}) {
    checked(PyModule_AddType(module, type));
  }
}

int execute_module(PyObject* module) {
  return translating([module] { add_classes(module); }) ? 0 : -1;
}

// Py_mod_multiple_interpreters and its value "not supported", from 3.12 on: the classes and
// the panic exception type are made once per process, so the module declines
// sub-interpreters. 3.11 knows no such slot and refuses unknown ones.
constexpr int multiple_interpreters_slot = 3;
constexpr unsigned long first_version_with_the_slot = 0x030C0000;

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&execute_module)},
    {multiple_interpreters_slot, nullptr},  // cut off on 3.11 by PyInit_vorn
    {0, nullptr},
};

// No per-module state and no module-level functions.
PyModuleDef module_definition = {.m_base = PyModuleDef_HEAD_INIT,
                                 .m_name = "vorn",
                                 .m_doc = module_doc,
                                 .m_size = 0,
                                 .m_methods = nullptr,
                                 .m_slots = module_slots,
                                 .m_traverse = nullptr,
                                 .m_clear = nullptr,
                                 .m_free = nullptr};

}  // namespace
}  // namespace vorn_module

PyMODINIT_FUNC PyInit_vorn() {
  using namespace vorn_module;
  if (Py_Version < first_version_with_the_slot) module_slots[1] = {0, nullptr};
  return PyModuleDef_Init(&module_definition);
}
