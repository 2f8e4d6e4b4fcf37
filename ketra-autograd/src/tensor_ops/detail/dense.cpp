#include "ketra_autograd/tensor_ops/detail/dense.hpp"

#include <array>
#include <cmath>

#include <fmt/format.h>

#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::dense {

MatrixView as_matrix(const ArrayD& a) {
  if (a.ndim() != 2) support::panic("as_matrix: expected a rank-2 array, got shape {}", a.shape_text());
  return MatrixView(a.data().data(), static_cast<Index>(a.shape()[0]), static_cast<Index>(a.shape()[1]));
}

ArrayD to_array(MatrixRef m) {
  const std::array<std::size_t, 2> shape{static_cast<std::size_t>(m.rows()), static_cast<std::size_t>(m.cols())};
  ArrayD out = ArrayD::for_overwrite(shape);
  Eigen::Map<Matrix>(out.data().data(), m.rows(), m.cols()) = m;
  return out;
}

std::optional<error::OpError> require_2d(std::string_view op, std::string_view what, const ArrayD& a) {
  if (a.ndim() == 2) return std::nullopt;
  return error::OpError::incompatible_shape(fmt::format("{}: {} must be 2D", op, what));
}

std::optional<error::OpError> require_square(std::string_view op, const ArrayD& a) {
  if (a.shape()[0] == a.shape()[1]) return std::nullopt;
  return error::OpError::incompatible_shape(fmt::format("{}: A must be square, got shape {}", op, a.shape_text()));
}

std::optional<error::OpError> require_shape_of_a(std::string_view op, std::string_view what, const ArrayD& g,
                                                 const ArrayD& a) {
  if (same_shape(g.shape(), a.shape())) return std::nullopt;
  return error::OpError::incompatible_shape(
      fmt::format("{}: {} shape {} does not match A shape {}", op, what, g.shape_text(), a.shape_text()));
}

double largest_magnitude_ignoring_nan(std::span<const double> values) {
  double largest = 0.0;
  for (double v : values) largest = std::fmax(largest, std::abs(v));
  return largest;
}

int scale_exponent(double magnitude) {
  int exponent = 0;
  if (magnitude != 0.0 && std::isfinite(magnitude)) std::frexp(magnitude, &exponent);
  return exponent;
}

void expect_shape(const char* routine, const char* what, MatrixRef m, Index rows, Index cols) {
  if (m.rows() == rows && m.cols() == cols) return;
  support::panic("{}: {} is {}x{}, expected {}x{}", routine, what, m.rows(), m.cols(), rows, cols);
}

}  // namespace ketra_autograd::tensor_ops::dense
