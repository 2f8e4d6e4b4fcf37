#pragma once
// Source text that evaluates (NumPy, Rust) or constructs (SymPy) an EML tree. Every eml
// node becomes an exponential minus a natural logarithm in the target notation; the tree's
// structure is kept and nothing is clipped. Constants print in their shortest exact
// decimal form without exponent ("2", "0.0000001", "NaN", "inf", "-inf").
#include <cstddef>
#include <string>

#include "tarvex/tree.hpp"

namespace vorn_core::codegen {

using tarvex::tree::EmlNode;

// Expressions: "(np.exp(l) - np.log(r))", leaf 1 "1.0", constant "{}", variable "x{}".
std::string numpy_expr(const EmlNode& node);
// "(exp(l) - log(r))", leaf 1 "1", constant "{}", variable "x{}".
std::string sympy_expr(const EmlNode& node);
// "((l).exp() - (r).ln())", leaf 1 "1.0_f64", constant "{}_f64", variable "x{}".
std::string rust_expr(const EmlNode& node);

// Programs over the names x0 .. x(num_vars - 1), or x0 alone when num_vars is 0:
// "lambda x0, x1: expr"
std::string numpy_code(const EmlNode& root, std::size_t num_vars);
// "# symbols('x0 x1')\nexpr"
std::string sympy_code(const EmlNode& root, std::size_t num_vars);
// "fn f(x0: f64, x1: f64) -> f64 { expr }"
std::string rust_code(const EmlNode& root, std::size_t num_vars);

}  // namespace vorn_core::codegen
