// Timing of the lowering of EML trees: every tree of depth <= 3 over 1, x0, x1, x2 (the
// 163,220 shapes that de-duplication lowers), representative single trees, and the sine pattern
// failing against trees that are not sine encodings.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "support/siphash.hpp"
#include "tarvex/canonical.hpp"
#include "tarvex/lower.hpp"
#include "tarvex/lower/display.hpp"
#include "tarvex/lower/pattern.hpp"
#include "tarvex/symreg/topology.hpp"

namespace {

using tarvex::canonical::Canonical;
using tarvex::lower::LoweredOp;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

using Clock = std::chrono::steady_clock;

// Keeps results observable so that the timed work is not optimised away.
std::uint64_t sink = 0;

std::size_t lowered_size(const LoweredOp& op) {
  switch (tarvex::lower::arity(op.kind())) {
    case 0: return 1;
    case 1: return 1 + lowered_size(op.lhs());
    default: return 1 + lowered_size(op.lhs()) + lowered_size(op.rhs());
  }
}

// Nanoseconds per call of body, over enough repetitions to last about 0.3 s.
double ns_per_call(const std::function<void()>& body) {
  std::size_t reps = 1;
  for (;;) {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < reps; ++i) body();
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    if (ns > 3e8) return ns / static_cast<double>(reps);
    reps *= 2;
  }
}

void bench_all_small_trees() {
  std::vector<NodePtr> trees;
  for (const EmlTree& tree : tarvex::symreg::topology::enumerate_topologies(3, 3)) {
    trees.push_back(tree.root);
  }
  std::size_t input_nodes = 0;
  std::size_t output_nodes = 0;
  for (const auto& t : trees) {
    input_nodes += tarvex::tree::node_size(*t);
    output_nodes += lowered_size(tarvex::lower::pattern::lower_node(*t));
  }
  const double lower_ns = ns_per_call([&] {
    for (const auto& t : trees) {
      sink += static_cast<std::uint64_t>(tarvex::lower::pattern::lower_node(*t).kind());
    }
  });
  const double hash_ns = ns_per_call([&] {
    for (const auto& t : trees) {
      support::SipHasher13 hasher;
      tarvex::lower::display::structural_hash(tarvex::lower::pattern::lower_node(*t), hasher);
      sink += hasher.finish();
    }
  });
  std::printf("all %zu trees of depth <= 3: lower %.2f ms (%.1f ns/input node, "
              "%.1f ns/output node); lower+hash %.2f ms\n",
              trees.size(), lower_ns / 1e6, lower_ns / static_cast<double>(input_nodes),
              lower_ns / static_cast<double>(output_nodes), hash_ns / 1e6);
}

void bench_single(const char* name, const EmlTree& tree) {
  const std::size_t in = tree.size();
  const std::size_t out = lowered_size(tarvex::lower::lower(tree));
  const double ns = ns_per_call(
      [&] { sink += static_cast<std::uint64_t>(tarvex::lower::lower(tree).kind()); });
  std::printf("%-34s %4zu -> %3zu nodes: %9.1f ns/call, %6.1f ns/output node\n", name, in, out, ns,
              ns / static_cast<double>(out));
}

void bench_sine_miss(const char* name, const NodePtr& node) {
  const EmlNode& pattern = tarvex::lower::pattern::sin_template::TEMPLATE();
  const double ns = ns_per_call([&] {
    const EmlNode* binding = nullptr;
    sink += tarvex::lower::pattern::unify_with_wildcard(*node, pattern, binding) ? 1 : 0;
  });
  std::printf("sine pattern fails on %-28s %8.1f ns\n", name, ns);
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

  bench_single("eml(x0, x1)", EmlTree::eml(x(0), x(1)));
  bench_single("ln(x0)", Canonical::ln(x(0)));
  bench_single("sub(x0, x1)", Canonical::sub(x(0), x(1)));
  const EmlTree depth_three =
      EmlTree::eml(EmlTree::eml(EmlTree::eml(x(0), one()), x(1)), EmlTree::eml(one(), one()));
  bench_single("depth 3, right spine of 1s", depth_three);
  bench_single("mul(x0, x1)", Canonical::mul(x(0), x(1)));
  bench_single("sin(x0)", Canonical::sin(x(0)));
  bench_single("cos(x1)", Canonical::cos(x(1)));
  bench_single("near-miss sine", EmlTree::from_node(near_miss_sine()));

  const EmlTree small = EmlTree::eml(EmlTree::eml(Canonical::ln(x(0)), x(1)), one());
  bench_sine_miss("eml(eml(ln x0, x1), 1)", small.root);
  bench_sine_miss("mul(x0, x1)", Canonical::mul(x(0), x(1)).root);
  bench_sine_miss("near-miss sine (full walk)", near_miss_sine());
  return sink == 42 ? 1 : 0;
}
