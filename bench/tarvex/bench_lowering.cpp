// Timing of the lowering of EML trees: every tree of depth <= 3 over 1, x0, x1, x2 (the
// 163,220 shapes that de-duplication lowers), representative single trees, and the sine pattern
// failing against trees that are not sine encodings.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness.hpp"
#include "tarvex/canonical.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/lower/pattern.hpp"
#include "tarvex/lower_simplify.hpp"
#include "tarvex/symreg/topology.hpp"

namespace {

using tarvex::canonical::Canonical;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

// Lowering every tree, per input node, against walking the same trees.
void bench_all_small_trees() {
  std::vector<NodePtr> trees;
  for (const EmlTree& tree : tarvex::symreg::topology::enumerate_topologies(3, 3)) {
    trees.push_back(tree.root);
  }
  std::size_t input_nodes = 0;
  for (const auto& t : trees) input_nodes += tarvex::tree::node_size(*t);
  const auto count = static_cast<double>(input_nodes);
  bench::Report report("all " + std::to_string(trees.size()) + " trees of depth <= 3 over three columns", "input node");
  report.add("walking the trees (baseline)", bench::seconds_per_call([&] {
               for (const auto& t : trees) bench::keep(tarvex::tree::node_size(*t));
             }),
             count);
  report.add("lower", bench::seconds_per_call([&] {
               for (const auto& t : trees) bench::keep(tarvex::lower::pattern::lower_node(*t).kind());
             }),
             count);
  report.add("lower and hash", bench::seconds_per_call([&] {
               for (const auto& t : trees) {
                 bench::keep(tarvex::lower_simplify::ops_struct_hash(tarvex::lower::pattern::lower_node(*t)));
               }
             }),
             count);
}

// Lowering one tree, per node of its lowered form.
void bench_single(bench::Report& report, const std::string& name, const EmlTree& tree) {
  const std::size_t in = tree.size();
  const std::size_t out = tarvex::lower_simplify::node_count(tarvex::lower::lower(tree));
  const double seconds = bench::seconds_per_call([&] { bench::keep(tarvex::lower::lower(tree).kind()); });
  report.add(name + ", " + std::to_string(in) + " -> " + std::to_string(out) + " nodes", seconds,
             static_cast<double>(out));
}

void bench_sine_miss(bench::Report& report, const std::string& name, const NodePtr& node) {
  const EmlNode& pattern = tarvex::lower::pattern::sin_template::TEMPLATE();
  report.add(name, bench::seconds_per_call([&] {
               const EmlNode* binding = nullptr;
               bench::keep(tarvex::lower::pattern::unify_with_wildcard(*node, pattern, binding));
             }));
}

// The sine encoding whose second argument occurrence differs from the first by 1e-14: the
// walk covers the whole template before it fails.
NodePtr near_miss_sine() {
  const EmlTree sin = Canonical::sin(EmlTree::from_node(EmlNode::var(0)));
  std::function<NodePtr(const EmlNode&, int&)> fill = [&](const EmlNode& n, int& seen) -> NodePtr {
    if (n.kind() == tarvex::tree::EmlKind::Var) return EmlNode::constant(seen++ == 0 ? 0.0 : 1e-14);
    if (!n.is_eml()) return EmlNode::one();
    NodePtr l = fill(*n.left(), seen);
    NodePtr r = fill(*n.right(), seen);
    return EmlNode::eml(std::move(l), std::move(r));
  };
  int seen = 0;
  return fill(*sin.root, seen);
}

}  // namespace

int main() {
  const auto x = [](std::size_t i) { return EmlTree::from_node(EmlNode::var(i)); };
  const auto one = [] { return EmlTree::from_node(EmlNode::one()); };
  bench_all_small_trees();

  bench::Report single("lowering single trees (baseline: the smallest)", "output node");
  bench_single(single, "eml(x0, x1)", EmlTree::eml(x(0), x(1)));
  bench_single(single, "ln(x0)", Canonical::ln(x(0)));
  bench_single(single, "sub(x0, x1)", Canonical::sub(x(0), x(1)));
  const EmlTree depth_three = EmlTree::eml(EmlTree::eml(EmlTree::eml(x(0), one()), x(1)), EmlTree::eml(one(), one()));
  bench_single(single, "depth 3, right spine of 1s", depth_three);
  bench_single(single, "mul(x0, x1)", Canonical::mul(x(0), x(1)));
  bench_single(single, "sin(x0)", Canonical::sin(x(0)));
  bench_single(single, "cos(x1)", Canonical::cos(x(1)));
  bench_single(single, "near-miss sine", EmlTree::from_node(near_miss_sine()));

  bench::Report misses("the sine pattern failing (baseline: an early miss)", "call");
  const EmlTree small = EmlTree::eml(EmlTree::eml(Canonical::ln(x(0)), x(1)), one());
  bench_sine_miss(misses, "eml(eml(ln x0, x1), 1)", small.root);
  bench_sine_miss(misses, "mul(x0, x1)", Canonical::mul(x(0), x(1)).root);
  bench_sine_miss(misses, "near-miss sine (full walk)", near_miss_sine());
}
