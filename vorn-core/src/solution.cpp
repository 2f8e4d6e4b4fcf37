#include "vorn_core/solution.hpp"

#include "tarvex/lower.hpp"
#include "tarvex/lower/display.hpp"
#include "tarvex/lower_simplify.hpp"
#include "vorn_core/codegen.hpp"

namespace vorn_core::solution {

Solution Solution::of(EmlTree tree, double mse) {
  const std::uint64_t complexity = tree.size();
  return Solution{std::move(tree), mse, complexity};
}

std::string Solution::pretty() const { return tarvex::tree::to_string(tree); }

std::string Solution::latex() const {
  return tarvex::lower::display::to_latex(tarvex::lower_simplify::simplify(tarvex::lower::lower(tree)));
}

std::string Solution::numpy_code() const { return codegen::numpy_code(*tree.root, tree.num_vars); }
std::string Solution::sympy_code() const { return codegen::sympy_code(*tree.root, tree.num_vars); }
std::string Solution::rust_code() const { return codegen::rust_code(*tree.root, tree.num_vars); }

}  // namespace vorn_core::solution
