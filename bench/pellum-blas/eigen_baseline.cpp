// The same-process baseline of the GEMM benchmark: Eigen's matrix product, built once
// per instruction set as a module of its own (see CMakeLists.txt) so that the loaded copy
// matches the processor and its template code never merges with another build's.
#include <Eigen/Core>

namespace {

template <typename T>
void product(int m, int k, int n, const T* a, const T* b, T* c) {
  using Matrix = Eigen::Matrix<T, Eigen::Dynamic, Eigen::Dynamic>;
  const Eigen::Map<const Matrix> ma(a, m, k), mb(b, k, n);
  Eigen::Map<Matrix> mc(c, m, n);
  mc.noalias() = ma * mb;
}

}  // namespace

// C = A·B, column-major, leading dimensions equal to the row counts.
extern "C" __attribute__((visibility("default"))) void eigen_baseline_dgemm(int m, int k, int n, const double* a,
                                                                            const double* b, double* c) {
  product(m, k, n, a, b, c);
}

extern "C" __attribute__((visibility("default"))) void eigen_baseline_sgemm(int m, int k, int n, const float* a,
                                                                            const float* b, float* c) {
  product(m, k, n, a, b, c);
}
