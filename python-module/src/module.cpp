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
#include <pybind11/gil_safe_call_once.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "arguments.hpp"
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

template <py::object (*Make)()>
PyTypeObject* type_once() {
  PYBIND11_CONSTINIT static py::gil_safe_call_once_and_store<py::object> storage;
  return reinterpret_cast<PyTypeObject*>(storage.call_once_and_store_result(Make).get_stored().ptr());
}

// ---- Solution ----

std::string solution_repr(const Solution& member) {
  return fmt::format("Solution(pretty={}, mse={}, complexity={})", support::debug_str(member.pretty()),
                     support::shortest(member.mse), member.complexity);
}

PyObject* repr_of_solution(PyObject* self) noexcept {
  return guarded([self] { return py::str(solution_repr(unbox<Solution>(self))); });
}

py::object make_solution_type() {
  static PyGetSetDef attributes[] = {
      {"latex", &getter<Solution, &Solution::latex>, nullptr, "LaTeX rendering of the expression.", nullptr},
      {"pretty", &getter<Solution, &Solution::pretty>, nullptr, "Human-readable infix rendering of the expression.",
       nullptr},
      {"rust_code", &getter<Solution, &Solution::rust_code>, nullptr,
       "Rust source code that evaluates the expression.", nullptr},
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
py::object solution_object(const Solution& member) { return box(type_once<make_solution_type>(), member); }

// ---- DiscoveryResult ----

// One selection of pareto_top(k), rendered member by member, so that top, top_latex and
// top_sympy always correspond.
template <py::object (*Render)(const Solution&)>
py::object top_members(const ParetoFront& front, PyObject* args, PyObject* kwargs, const char* format) {
  const auto [k_arg] = gather<1>(args, kwargs, format, {"k", nullptr});
  const std::uint64_t k = to_u64(k_arg, "k");
  py::list members;
  for (const Solution* member : front.pareto_top(k)) members.append(Render(*member));
  return members;
}

py::object latex_text(const Solution& member) { return py::str(member.latex()); }
py::object sympy_text(const Solution& member) { return py::str(member.sympy_code()); }

py::object top(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<solution_object>(front, args, kwargs, "O:top");
}
py::object top_latex(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<latex_text>(front, args, kwargs, "O:top_latex");
}
py::object top_sympy(const ParetoFront& front, PyObject* args, PyObject* kwargs) {
  return top_members<sympy_text>(front, args, kwargs, "O:top_sympy");
}

py::object best(const ParetoFront& front) {
  const Solution* member = front.best();
  return member != nullptr ? solution_object(*member) : py::none();
}

Py_ssize_t front_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(unbox<ParetoFront>(self).size());
}

py::object make_result_type() {
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

PyObject* new_discoverer(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&] { return box(type, make_discoverer(args, kwargs)); });
}

// Runs without the interpreter lock: touches no Python object.
std::expected<ParetoFront, VornError> discover(const Discoverer& config, ArrayD x, ArrayD y) {
  const std::expected<DataSet, VornError> data = DataSet::from_arrays(std::move(x), std::move(y));
  if (!data) return std::unexpected(data.error());
  return config.fit(*data);
}

py::object fit(const Discoverer& self, PyObject* args, PyObject* kwargs) {
  const auto [x_arg, y_arg] = gather<2>(args, kwargs, "OO:fit", {"x", "y", nullptr});
  const py::array x_array = float64_array(x_arg, 2, "x");
  const py::array y_array = float64_array(y_arg, 1, "y");
  ArrayD x = copy_array(x_array);
  ArrayD y = copy_array(y_array);
  const Discoverer config = self;
  std::expected<ParetoFront, VornError> front = [&] {
    const py::gil_scoped_release unlocked;
    return discover(config, std::move(x), std::move(y));
  }();
  if (!front) throw py::value_error(front.error().to_string());
  return box(type_once<make_result_type>(), std::move(*front));
}

py::object make_discoverer_type() {
  static PyMethodDef methods[] = {
      {"fit", as_method(&method_with_arguments<Discoverer, fit>), METH_VARARGS | METH_KEYWORDS, fit_doc},
      {nullptr, nullptr, 0, nullptr}};
  return make_type<Discoverer>("vorn.Discoverer", {{Py_tp_doc, const_cast<char*>(discoverer_doc)},
                                                   {Py_tp_methods, methods},
                                                   {Py_tp_new, reinterpret_cast<void*>(&new_discoverer)}});
}

void define_module(py::module_& m) {
  m.doc() = module_doc;
  m.add_object("Discoverer", reinterpret_cast<PyObject*>(type_once<make_discoverer_type>()));
  m.add_object("DiscoveryResult", reinterpret_cast<PyObject*>(type_once<make_result_type>()));
  m.add_object("Solution", reinterpret_cast<PyObject*>(type_once<make_solution_type>()));
  // Reachable, but kept off the public names: the module offers exactly its three classes.
  m.add_object("_PanicException", panic_exception());
}

}  // namespace
}  // namespace vorn_module

// The classes and the panic exception type are created once per process, so the module
// declines sub-interpreters.
PYBIND11_MODULE(vorn, m, pybind11::multiple_interpreters::not_supported()) { vorn_module::define_module(m); }
