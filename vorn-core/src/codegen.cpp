#include "vorn_core/codegen.hpp"

#include <algorithm>
#include <string_view>

#include "support/number_text.hpp"

namespace vorn_core::codegen {

namespace {

using tarvex::tree::EmlKind;

// How one target notation writes the four node kinds; an eml node is
// eml_open + left + eml_middle + right + eml_close.
struct Notation {
  std::string_view one;
  std::string_view const_suffix;
  std::string_view eml_open;
  std::string_view eml_middle;
  std::string_view eml_close;
};

constexpr Notation numpy{"1.0", "", "(np.exp(", ") - np.log(", "))"};
constexpr Notation sympy{"1", "", "(exp(", ") - log(", "))"};
constexpr Notation rust{"1.0_f64", "_f64", "((", ").exp() - (", ").ln())"};

void write_expr(const Notation& notation, const EmlNode& node, std::string& out) {
  switch (node.kind()) {
    case EmlKind::One: out += notation.one; return;
    case EmlKind::Const:
      support::append_shortest(out, node.value());
      out += notation.const_suffix;
      return;
    case EmlKind::Var:
      out += 'x';
      out += std::to_string(node.index());
      return;
    case EmlKind::Eml:
      out += notation.eml_open;
      write_expr(notation, *node.left(), out);
      out += notation.eml_middle;
      write_expr(notation, *node.right(), out);
      out += notation.eml_close;
      return;
  }
}

std::string expr(const Notation& notation, const EmlNode& node) {
  std::string out;
  write_expr(notation, node, out);
  return out;
}

// How one target notation lays out a program: head, the names (each with its suffix,
// joined by the separator; at least x0), middle, the expression, tail.
struct Program {
  const Notation& notation;
  std::string_view head;
  std::string_view name_suffix;
  std::string_view separator;
  std::string_view middle;
  std::string_view tail;
};

constexpr Program numpy_program{numpy, "lambda ", "", ", ", ": ", ""};
constexpr Program sympy_program{sympy, "# symbols('", "", " ", "')\n", ""};
constexpr Program rust_program{rust, "fn f(", ": f64", ", ", ") -> f64 { ", " }"};

std::string program(const Program& p, const EmlNode& root, std::size_t num_vars) {
  std::string out(p.head);
  const std::size_t count = std::max<std::size_t>(num_vars, 1);
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += p.separator;
    out += 'x';
    out += std::to_string(i);
    out += p.name_suffix;
  }
  out += p.middle;
  write_expr(p.notation, root, out);
  out += p.tail;
  return out;
}

}  // namespace

std::string numpy_expr(const EmlNode& node) { return expr(numpy, node); }
std::string sympy_expr(const EmlNode& node) { return expr(sympy, node); }
std::string rust_expr(const EmlNode& node) { return expr(rust, node); }

std::string numpy_code(const EmlNode& root, std::size_t num_vars) { return program(numpy_program, root, num_vars); }
std::string sympy_code(const EmlNode& root, std::size_t num_vars) { return program(sympy_program, root, num_vars); }
std::string rust_code(const EmlNode& root, std::size_t num_vars) { return program(rust_program, root, num_vars); }

}  // namespace vorn_core::codegen
