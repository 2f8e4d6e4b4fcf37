#include "ketra_autograd/tensor_ops/matrix_ops.hpp"

#include <cmath>
#include <limits>

#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/detail/dense.hpp"

namespace ketra_autograd::tensor_ops::matrix_ops {
namespace {

using dense::Index;
using dense::Matrix;
using error::OpError;

constexpr double singular_pivot = std::numeric_limits<double>::epsilon();

// The row from k down holding the largest magnitude in column k; the first on ties.
Index pivot_row(const Matrix& w, Index k) {
  Index p = k;
  for (Index r = k + 1; r < w.rows(); ++r) {
    if (std::abs(w(r, k)) > std::abs(w(p, k))) p = r;
  }
  return p;
}

std::optional<tensor::Tensor> inverse_gradient(op::GradientContext& ctx) {
  const auto y = ctx.output().eval(ctx.context());
  if (!y) return std::nullopt;
  const auto gy = ctx.output_grad().eval(ctx.context());
  if (!gy || y->ndim() != 2 || gy->ndim() != 2 || !same_shape(gy->shape(), y->shape())) return std::nullopt;
  const dense::MatrixView ym = dense::as_matrix(*y);
  const Matrix left = ym.transpose() * dense::as_matrix(*gy);
  const Matrix g = -(left * ym.transpose());
  return convert_to_tensor(dense::to_array(g), ctx.graph());
}

}  // namespace

op::ComputeResult MatrixInverseOp::compute(op::ComputeContext& ctx) const {
  const ArrayD& a = ctx.input(0);
  if (a.ndim() != 2 || a.shape()[0] != a.shape()[1]) {
    return std::unexpected(OpError::incompatible_shape("Matrix inverse requires square matrix"));
  }
  Matrix w = dense::as_matrix(a);
  Matrix r = Matrix::Identity(w.rows(), w.cols());
  for (Index k = 0; k < w.rows(); ++k) {
    const Index p = pivot_row(w, k);
    if (std::abs(w(p, k)) < singular_pivot) return std::unexpected(OpError::incompatible_shape("Matrix is singular"));
    if (p != k) {
      w.row(k).swap(w.row(p));
      r.row(k).swap(r.row(p));
    }
    const double d = w(k, k);
    w.row(k) /= d;
    r.row(k) /= d;
    for (Index i = 0; i < w.rows(); ++i) {
      if (i == k) continue;
      const double f = w(i, k);
      w.row(i) -= w.row(k) * f;
      r.row(i) -= r.row(k) * f;
    }
  }
  ctx.append_output(dense::to_array(r));
  return {};
}

void MatrixInverseOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, inverse_gradient(ctx)); }

}  // namespace ketra_autograd::tensor_ops::matrix_ops
