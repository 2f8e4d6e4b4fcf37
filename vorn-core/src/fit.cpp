#include "vorn_core/fit.hpp"

#include "support/panic.hpp"

namespace vorn_core::fit {

using tarvex::tree::EmlKind;

void collect_consts(const EmlNode& node, std::vector<double>& out) {
  switch (node.kind()) {
    case EmlKind::Const: out.push_back(node.value()); return;
    case EmlKind::Eml:
      collect_consts(*node.left(), out);
      collect_consts(*node.right(), out);
      return;
    case EmlKind::One:
    case EmlKind::Var: return;
  }
}

NodePtr substitute_consts(const EmlNode& node, std::span<const double> values, std::size_t& index) {
  switch (node.kind()) {
    case EmlKind::One: return EmlNode::one();
    case EmlKind::Var: return EmlNode::var(node.index());
    case EmlKind::Const:
      if (index >= values.size()) {
        support::panic("constant index {} out of range for {} values", index, values.size());
      }
      return EmlNode::constant(values[index++]);
    case EmlKind::Eml: {
      NodePtr left = substitute_consts(*node.left(), values, index);
      NodePtr right = substitute_consts(*node.right(), values, index);
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  support::panic("unknown EML node kind");
}

}  // namespace vorn_core::fit
