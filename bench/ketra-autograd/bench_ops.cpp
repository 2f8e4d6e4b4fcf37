// Cost of the elementwise operations' compute, called as the evaluator calls it (the
// output array included), against a plain loop doing the same arithmetic over the same
// data into a buffer of its own. Each operation runs on 100 elements (a fit's typical
// column) and on 10,000.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;

// The operands: x and y columns, and a 0-d s.
struct Operands {
  ArrayD x, y, s;
};

enum class Second { None, Column, Scalar };

// A plain loop: out[i] from x[i] and y[i] (y may be a single element).
using RawLoop = void (*)(const double* x, const double* y, double* out, std::size_t n);

struct Case {
  const char* name;
  const op::Op* op;
  Second second;
  RawLoop raw;
};

// Out of line, like the operations' loops, so that neither side sees where the data lies,
// and vectorized where the compiler can, as the operations' loops are; a single-element
// y is read once as s.
#define RAW_LOOP(name, expr)                                                                                   \
  [[gnu::noinline]] void name(const double* x, [[maybe_unused]] const double* y, double* out, std::size_t n) { \
    [[maybe_unused]] const double s = y[0];                                                                    \
    _Pragma("omp simd") for (std::size_t i = 0; i < n; ++i) out[i] = (expr);                                   \
  }
RAW_LOOP(raw_add, x[i] + y[i])
RAW_LOOP(raw_add_scalar, x[i] + s)
RAW_LOOP(raw_sub, x[i] - y[i])
RAW_LOOP(raw_mul, x[i] * y[i])
RAW_LOOP(raw_mul_scalar, x[i] * s)
RAW_LOOP(raw_div, x[i] / y[i])
RAW_LOOP(raw_div_scalar, x[i] * (1.0 / s))
RAW_LOOP(raw_exp, std::exp(x[i]))
RAW_LOOP(raw_ln, std::log(x[i]))
RAW_LOOP(raw_neg, -x[i])
RAW_LOOP(raw_pow, std::pow(x[i], 2.5))
RAW_LOOP(raw_scale, x[i] * 2.5)
RAW_LOOP(raw_max_scalar, std::fmax(x[i], s))
RAW_LOOP(raw_min, std::fmin(x[i], y[i]))
#undef RAW_LOOP

const binary_ops::AddOp add;
const binary_ops::SubOp sub;
const binary_ops::MulOp mul;
const binary_ops::DivOp div;
const math_ops::Exp exp_op;
const math_ops::Ln ln;
const math_ops::NegOp neg;
const math_ops::Pow pow_op(2.5);
const scalar_ops::ScalarMulOp scale(2.5);
const math_ops::Maximum maximum;
const math_ops::Minimum minimum;

const Case cases[] = {
    {"AddOp", &add, Second::Column, raw_add},
    {"AddOp, 0-d operand", &add, Second::Scalar, raw_add_scalar},
    {"SubOp", &sub, Second::Column, raw_sub},
    {"MulOp", &mul, Second::Column, raw_mul},
    {"MulOp, 0-d operand", &mul, Second::Scalar, raw_mul_scalar},
    {"DivOp", &div, Second::Column, raw_div},
    {"DivOp, 0-d divisor", &div, Second::Scalar, raw_div_scalar},
    {"Exp", &exp_op, Second::None, raw_exp},
    {"Ln", &ln, Second::None, raw_ln},
    {"NegOp", &neg, Second::None, raw_neg},
    {"Pow", &pow_op, Second::None, raw_pow},
    {"ScalarMulOp", &scale, Second::None, raw_scale},
    {"Maximum, 0-d bound", &maximum, Second::Scalar, raw_max_scalar},
    {"Minimum", &minimum, Second::Column, raw_min},
};

// Returns false when the operation's elements differ from the plain loop's.
bool measure(const Case& c, const Operands& data) {
  const std::size_t n = data.x.len();
  std::vector<const ArrayD*> inputs{&data.x};
  if (c.second == Second::Column) inputs.push_back(&data.y);
  if (c.second == Second::Scalar) inputs.push_back(&data.s);
  const double* second = c.second == Second::Scalar ? data.s.data().data() : data.y.data().data();
  std::vector<double> out(n);
  ArrayD first;
  std::vector<ArrayD> further;
  const auto run_op = [&] {
    op::ComputeContext ctx(inputs, first, further);
    static_cast<void>(c.op->compute(ctx));
    bench::keep(first[0]);
  };

  bench::Report report(std::string(c.name) + " on " + std::to_string(n) + " elements", "element");
  report.add("plain loop (baseline)", bench::seconds_per_call([&] {
               c.raw(data.x.data().data(), second, out.data(), n);
               bench::keep(out[0]);
             }),
             static_cast<double>(n));
  report.add("compute", bench::seconds_per_call(run_op), static_cast<double>(n));
  return std::ranges::equal(first.data(), out, [](double a, double b) { return a == b || (a != a && b != b); });
}

Operands operands(std::size_t n) {
  std::vector<double> xs(n), ys(n);
  for (std::size_t i = 0; i < n; ++i) {
    xs[i] = 0.5 + static_cast<double>(i % 97) / 97.0;
    ys[i] = 1.5 - static_cast<double>(i % 89) / 89.0;
  }
  return {ArrayD::from_vec(xs), ArrayD::from_vec(ys), ArrayD::scalar(1.1)};
}

}  // namespace

int main() {
  for (std::size_t n : {std::size_t{100}, std::size_t{10000}}) {
    const Operands data = operands(n);
    for (const Case& c : cases) {
      if (!measure(c, data)) {
        std::fprintf(stderr, "%s differs from its plain loop\n", c.name);
        return 1;
      }
    }
  }
  return 0;
}
