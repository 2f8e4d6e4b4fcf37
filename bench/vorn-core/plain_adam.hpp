#pragma once
// The arithmetic floor of constant fitting: the same full-batch Adam training as the
// engine's (guarded eml forward pass, mean squared error, its gradient, one Adam step per
// constant), written as plain loops over preallocated arrays, one loop per elementwise
// operation as the engine runs them.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "tarvex/tree.hpp"

namespace vorn_bench {

class PlainAdam {
 public:
  PlainAdam(const tarvex::tree::EmlNode& root, std::span<const std::vector<double>> columns, std::span<const double> y,
            double learning_rate)
      : columns_(columns), y_(y), n_(y.size()), lr_(learning_rate) {
    flatten(root);
    values_.assign(program_.size(), std::vector<double>(n_));
    grads_.assign(program_.size(), std::vector<double>(n_));
    exps_.assign(program_.size(), std::vector<double>(n_));
    clipped_.assign(program_.size(), std::vector<double>(n_));
    scratch_.assign(n_, 0.0);
  }

  void train(std::size_t epochs) {
    for (std::size_t e = 0; e < epochs; ++e) step();
  }
  std::span<const double> constants() const { return c_; }

 private:
  static constexpr double exp_low = -50.0, exp_high = 50.0;
  static constexpr double ln_low = 1e-12, ln_high = 1.7976931348623157e308;
  // max(min(v, hi), lo); NaN comes out as hi.
  static double clip(double v, double lo, double hi) {
    const double low = v < hi ? v : hi;
    return low > lo ? low : lo;
  }

  enum class Kind { One, Const, Var, Eml };
  struct Instr {
    Kind kind;
    std::size_t index;  // constant or column index; for Eml the left child's position
    std::size_t right;  // Eml only
  };

  std::size_t flatten(const tarvex::tree::EmlNode& node) {
    using tarvex::tree::EmlKind;
    switch (node.kind()) {
      case EmlKind::One: program_.push_back({Kind::One, 0, 0}); break;
      case EmlKind::Const:
        program_.push_back({Kind::Const, c_.size(), 0});
        c_.push_back(node.value());
        m_.push_back(0.0);
        v_.push_back(0.0);
        t_.push_back(1.0);
        break;
      case EmlKind::Var: program_.push_back({Kind::Var, node.index(), 0}); break;
      case EmlKind::Eml: {
        const std::size_t left = flatten(*node.left());
        const std::size_t right = flatten(*node.right());
        program_.push_back({Kind::Eml, left, right});
        break;
      }
    }
    return program_.size() - 1;
  }

  [[gnu::noinline]] void step() {
    forward();
    // Loss gradient: d = pred - y, mean of d * d, so dL/dpred = 2 d / n.
    const std::vector<double>& pred = values_.back();
    for (std::size_t i = 0; i < n_; ++i) scratch_[i] = pred[i] - y_[i];
    double loss = 0.0;
    for (std::size_t i = 0; i < n_; ++i) loss += scratch_[i] * scratch_[i];
    sink_ = loss / static_cast<double>(n_);
    const double scale = 2.0 / static_cast<double>(n_);
    for (auto& g : grads_) std::fill(g.begin(), g.end(), 0.0);
    for (std::size_t i = 0; i < n_; ++i) grads_.back()[i] = scratch_[i] * scale;
    backward();
  }

  void forward() {
    for (std::size_t p = 0; p < program_.size(); ++p) {
      const Instr& in = program_[p];
      std::vector<double>& out = values_[p];
      switch (in.kind) {
        case Kind::One: std::fill(out.begin(), out.end(), 1.0); break;
        case Kind::Const:
          for (std::size_t i = 0; i < n_; ++i) out[i] = c_[in.index] * 1.0;
          break;
        case Kind::Var: std::copy(columns_[in.index].begin(), columns_[in.index].end(), out.begin()); break;
        case Kind::Eml: {
          const double* a = values_[in.index].data();
          const double* b = values_[in.right].data();
          double* ea = exps_[p].data();
          double* cb = clipped_[p].data();
          double* lb = scratch_.data();
          double* o = out.data();
#pragma omp simd
          for (std::size_t i = 0; i < n_; ++i) ea[i] = clip(a[i], exp_low, exp_high);
          for (std::size_t i = 0; i < n_; ++i) ea[i] = std::exp(ea[i]);
#pragma omp simd
          for (std::size_t i = 0; i < n_; ++i) cb[i] = clip(b[i], ln_low, ln_high);
          for (std::size_t i = 0; i < n_; ++i) lb[i] = std::log(cb[i]);
#pragma omp simd
          for (std::size_t i = 0; i < n_; ++i) o[i] = ea[i] - lb[i];
          break;
        }
      }
    }
  }

  void backward() {
    for (std::size_t p = program_.size(); p-- > 0;) {
      const Instr& in = program_[p];
      const std::vector<double>& g = grads_[p];
      if (in.kind == Kind::Const) {
        double sum = 0.0;
        for (std::size_t i = 0; i < n_; ++i) sum += g[i] * 1.0;
        adam(in.index, sum);
      } else if (in.kind == Kind::Eml) {
        const double* a = values_[in.index].data();
        const double* b = values_[in.right].data();
        const double* ea = exps_[p].data();
        const double* cb = clipped_[p].data();
        double* ga = grads_[in.index].data();
        double* gb = grads_[in.right].data();
#pragma omp simd
        for (std::size_t i = 0; i < n_; ++i) ga[i] += a[i] >= exp_low && a[i] <= exp_high ? g[i] * ea[i] : 0.0;
#pragma omp simd
        for (std::size_t i = 0; i < n_; ++i) gb[i] -= b[i] >= ln_low && b[i] <= ln_high ? g[i] / cb[i] : 0.0;
      }
    }
  }

  void adam(std::size_t k, double g) {
    t_[k] += 1.0;
    m_[k] = 0.9 * m_[k] + 0.1 * g;
    v_[k] = 0.999 * v_[k] + 0.001 * g * g;
    c_[k] -= lr_ * (m_[k] / (1.0 - std::pow(0.9, t_[k]))) / (std::sqrt(v_[k] / (1.0 - std::pow(0.999, t_[k]))) + 1e-8);
  }

  std::span<const std::vector<double>> columns_;
  std::span<const double> y_;
  std::size_t n_;
  double lr_;
  std::vector<Instr> program_;
  std::vector<std::vector<double>> values_, grads_, exps_, clipped_;
  std::vector<double> scratch_;
  std::vector<double> c_, m_, v_, t_;
  double sink_ = 0.0;
};

}  // namespace vorn_bench
