#pragma once
// The gradient rules chosen by operation name. The cascade is a pure function of the
// name, decided once per distinct name and thread, never per node.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::gradient::detail {

// In the order the name tests are tried; the first match decides.
enum class GradRule : std::uint8_t {
  Add = 1,
  Sub,
  Mul,
  Div,
  Neg,
  MaybeReduceSum,
  MaybeBroadcast,
  ReduceSumToScalarGrad,
  ReduceGradCommon,
  SumReduction,  // every input-0 gradient spread as a full sum
  MatMul,
  Sigmoid,
  ReLU,
  Tanh,
  Softmax,
  ExtractDiag,
  Checkpoint,
  Trace,
  MatrixInverse,
  Determinant,
  LinearSolve,
  MatrixSqrt,
  MatrixLog,
  MatrixPow,
  Squeeze,
  ExpandDims,
  Reshape,
  AddN,
  CustomActivation,
  Concat,
  Slice,
  Conditional,
  Fill,
  Ones,
  Zeros,
  ConvertToTensor,
  Eml,
  Kronecker,
  ScalarMul,
  Cholesky,
  LUExtract,
  QRExtract,
  SVDExtract,
  OwnGrad,  // no name matched: the operation's own grad
};
static_assert(std::to_underlying(GradRule::OwnGrad) == 44);

// The factor component of the decomposition rules (LU 1 = L, 2 = U; QR 0 = Q, 1 = R;
// SVD 0 = U, 1 = S, 2 = Vt); no_component where the rule passes nothing (LUExtractP).
inline constexpr std::uint8_t no_component = 0xFF;

struct RuleChoice {
  GradRule rule = GradRule::OwnGrad;
  std::uint8_t component = 0;
  friend bool operator==(const RuleChoice&, const RuleChoice&) = default;
};

// The cascade itself: equality, suffix and containment tests on the bytes of the name.
// ReduceSum, ReduceMean and ReduceProd of this library differentiate themselves (their
// gradients divide by the count, select partial axes and form products); the full-sum
// rule serves the other reductions.
RuleChoice choose_rule(std::string_view name);

// choose_rule remembered per name. Names are looked up by address first (operation
// names are static strings, so one type's name always has the same address) and the
// remembered text is compared before a hit is trusted.
class RuleMemo {
 public:
  RuleChoice lookup(std::string_view name);

 private:
  struct Entry {
    const char* address;
    std::string name;
    RuleChoice choice;
  };
  static constexpr std::size_t max_entries = 256;  // bounded for names made at run time

  std::vector<Entry> entries_;
};

// The calling thread's memo.
RuleChoice rule_for(std::string_view name);

// The node being differentiated, as a rule sees it.
struct RuleSite {
  graph::Context& ctx;
  const op::Op& op;
  tensor::Tensor y;                        // the node itself
  tensor::Tensor gy;                       // its accumulated gradient
  std::span<const tensor::Tensor> inputs;  // its backprop inputs

  // Input k; panics when the node has fewer inputs.
  tensor::Tensor input(std::size_t k) const;
};

// A node over (a, b) built directly, as the backward operations are.
template <typename O>
tensor::Tensor pair_node(tensor::Tensor a, tensor::Tensor b, O op) {
  return tensor::TensorBuilder(a.graph()).append_input_with_selector(a).append_input_with_selector(b).build(
      std::move(op));
}

// The gradient that a name rule (any but OwnGrad) gives input i; nothing where the
// input receives none. Builds the rule's nodes anew for every input it serves.
std::optional<tensor::Tensor> apply_rule(RuleChoice choice, const RuleSite& site, std::size_t i);
// The same for the rules whose nodes are matrix operations.
std::optional<tensor::Tensor> apply_matrix_rule(RuleChoice choice, const RuleSite& site, std::size_t i);

}  // namespace ketra_autograd::gradient::detail
