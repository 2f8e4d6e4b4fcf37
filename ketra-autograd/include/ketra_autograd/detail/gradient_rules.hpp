#pragma once
// The gradient rules chosen by operation name. The cascade is a pure function of the
// name, decided once per distinct name and thread, never per node.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

}  // namespace ketra_autograd::gradient::detail
