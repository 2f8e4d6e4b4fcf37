// The gradient rules whose nodes are matrix operations and the backward operations of
// decompositions and matrix functions.
#include "ketra_autograd/detail/gradient_rules.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/decomposition_ops/backward_ops.hpp"
#include "ketra_autograd/tensor_ops/kronecker_ops.hpp"
#include "ketra_autograd/tensor_ops/linalg_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/matrix_functions.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::gradient::detail {

namespace {

using tensor::Tensor;
namespace la = tensor_ops::linear_algebra;
namespace backward = tensor_ops::decomposition_ops::backward_ops;

Tensor transposed(Tensor a) { return la::transpose(a, {1, 0}); }

}  // namespace

std::optional<Tensor> apply_matrix_rule(RuleChoice choice, const RuleSite& site, std::size_t i) {
  using enum GradRule;
  namespace arith = tensor_ops::arithmetic;
  const Tensor gy = site.gy;
  const Tensor y = site.y;
  const bool first = i == 0;
  switch (choice.rule) {
    case MatMul: return first ? la::matmul(gy, transposed(site.input(1))) : la::matmul(transposed(site.input(0)), gy);
    case ExtractDiag: return la::diag(gy);
    case Trace: return pair_node(site.input(0), gy, tensor_ops::linalg_ops::TraceBackwardOp{});
    case MatrixInverse: return arith::neg(la::matmul(la::matmul(transposed(y), gy), transposed(y)));
    case Determinant: return arith::mul(arith::mul(gy, y), transposed(la::matrix_inverse(site.input(i))));
    case LinearSolve: {
      const Tensor g = la::matmul(transposed(la::matrix_inverse(site.input(0))), gy);
      return first ? arith::neg(la::matmul(g, transposed(y))) : g;
    }
    case MatrixSqrt: return pair_node(site.input(0), gy, tensor_ops::matrix_functions::MatrixSqrtBackwardOp{});
    case MatrixLog: return pair_node(site.input(0), gy, tensor_ops::matrix_functions::MatrixLogBackwardOp{});
    case MatrixPow:
      // The forward matrix power carrying its exponent is not an operation of this
      // library, so no operation answers as one.
      return std::nullopt;
    case Kronecker:
      return tensor::TensorBuilder(gy.graph())
          .append_input_with_selector(gy)
          .append_input_with_selector(site.input(0))
          .append_input_with_selector(site.input(1))
          .build(tensor_ops::kronecker_ops::KroneckerGradOp(i));
    case Cholesky: return pair_node(site.input(i), gy, backward::CholeskyBackwardOp{});
    case LUExtract:
      if (choice.component == no_component) return std::nullopt;
      return pair_node(site.input(i), gy, backward::LUExtractBackwardOp(choice.component));
    case QRExtract: return pair_node(site.input(i), gy, backward::QRExtractBackwardOp(choice.component));
    case SVDExtract: return pair_node(site.input(i), gy, backward::SVDBackwardOp(choice.component));
    default: support::panic("gradient rule {} builds no matrix operation", std::to_underlying(choice.rule));
  }
}

}  // namespace ketra_autograd::gradient::detail
