#pragma once
// Dense matrices for the linear-algebra operations: row-major like ArrayD, so a rank-2
// input is read in place and a result is copied out once. Also the input checks these
// operations share, with their "{operation}: {complaint}" messages, and the power-of-two
// scaling that keeps their sums of squares clear of overflow and underflow.
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include <Eigen/Core>

#include "ketra_autograd/error.hpp"
#include "ketra_autograd/ndarray.hpp"

namespace ketra_autograd::tensor_ops::dense {

using Index = Eigen::Index;
using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using MatrixView = Eigen::Map<const Matrix>;
// What the routines take: a matrix, a view of one, or an expression evaluated once.
using MatrixRef = Eigen::Ref<const Matrix>;

// A rank-2 array read in place; the array must outlive the view. Panics on another rank.
MatrixView as_matrix(const ArrayD& a);
// A rank-2 array holding a copy of the matrix.
ArrayD to_array(MatrixRef m);

// Checks returning the IncompatibleShape error they describe, or nothing when satisfied.
// "{op}: {what} must be 2D".
std::optional<error::OpError> require_2d(std::string_view op, std::string_view what, const ArrayD& a);
// "{op}: A must be square, got shape [2, 3]"; a must have rank 2.
std::optional<error::OpError> require_square(std::string_view op, const ArrayD& a);
// "{op}: {what} shape [2, 3] does not match A shape [2, 2]".
std::optional<error::OpError> require_shape_of_a(std::string_view op, std::string_view what, const ArrayD& g,
                                                 const ArrayD& a);

// The largest magnitude among the values, NaN ignored; 0 when there is none.
double largest_magnitude_ignoring_nan(std::span<const double> values);
// The binary exponent e that brings a finite nonzero magnitude m into [0.5, 1) as m·2^-e;
// 0 for 0, an infinity or NaN. Scaling by 2^-e is exact for values that stay normal.
int scale_exponent(double magnitude);

// Panics with "{routine}: {what} is {rows}x{cols}, expected ..." unless m has that shape:
// the routines' callers check shapes first, so a mismatch is a fault of the caller.
void expect_shape(const char* routine, const char* what, MatrixRef m, Index rows, Index cols);

}  // namespace ketra_autograd::tensor_ops::dense
