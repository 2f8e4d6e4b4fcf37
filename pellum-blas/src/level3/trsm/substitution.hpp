#pragma once
// Substitution inside one diagonal block of a triangular solve, vectorised across the
// right-hand sides (A on the left) or across the rows of B (A on the right). Every element
// sees the operations of the plain loops in their order, so each vector width gives the
// same bits.
#include <cstddef>

namespace pellum_blas::level3::trsm::substitution {

// The widest diagonal block the left solve takes.
inline constexpr std::size_t max_left_block = 64;

// op(A)(i, k) lies at a[i·row_step + k·col_step].
template <typename T>
struct OpA {
  const T* a;
  std::size_t row_step, col_step;
  T at(std::size_t i, std::size_t k) const { return a[i * row_step + k * col_step]; }
};

// Block K = [start, end) with end − start <= max_left_block, A on the left: solves the first
// `count` rows of K in solving order (forward: from start; backward: from end − 1) for
// columns [0, ncols) of B: s = B(i, j) − Σ op(A)(i, k)·B(k, j) over the block's rows solved
// before, k ascending; then B(i, j) = s / op(A)(i, i), or s when unit.
void solve_left(OpA<double> op, bool forward, bool unit, double* b, std::size_t ldb, std::size_t start, std::size_t end,
                std::size_t count, std::size_t ncols);
void solve_left(OpA<float> op, bool forward, bool unit, float* b, std::size_t ldb, std::size_t start, std::size_t end,
                std::size_t count, std::size_t ncols);

// Block K = [start, end), A on the right, rows [0, nrows) of B: the first `count` columns of K
// in solving order are each divided by op(A)(j, j) (not when unit) and then subtracted,
// times op(A)(j, k), from every column k of K still to solve, k ascending.
void solve_right(OpA<double> op, bool forward, bool unit, double* b, std::size_t ldb, std::size_t nrows,
                 std::size_t start, std::size_t end, std::size_t count);
void solve_right(OpA<float> op, bool forward, bool unit, float* b, std::size_t ldb, std::size_t nrows,
                 std::size_t start, std::size_t end, std::size_t count);

}  // namespace pellum_blas::level3::trsm::substitution
