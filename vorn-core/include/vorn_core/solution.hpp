#pragma once
// One discovered expression with its quality figures, and its renderings.
#include <cstdint>
#include <string>

#include "tarvex/tree.hpp"

namespace vorn_core::solution {

using tarvex::tree::EmlTree;

struct Solution {
  EmlTree tree;                  // shares its root with the tree it was made from
  double mse = 0.0;              // on the data it was scored on
  std::uint64_t complexity = 0;  // node count of the tree

  // A solution of the tree whose complexity is the tree's node count.
  static Solution of(EmlTree tree, double mse);

  // The raw EML text, e.g. "eml(x0, 1)".
  std::string pretty() const;
  // The tree lowered to ordinary operations, simplified and rendered as LaTeX.
  std::string latex() const;
  // Source text over the tree's variables (codegen.hpp).
  std::string numpy_code() const;
  std::string sympy_code() const;
  std::string rust_code() const;
};

}  // namespace vorn_core::solution
