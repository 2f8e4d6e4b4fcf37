#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/gradient.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/reduction.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "ketra_autograd/variable.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops::arithmetic;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;
using tensor_ops::grad;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

ArrayD value(graph::Context& ctx, Tensor t, const evaluation::Feeder& feeder = {}) {
  auto result = ctx.evaluator().push(t).set_feeder(feeder).run().at(0);
  if (!result) ADD_FAILURE() << result.error().debug();
  return result ? std::move(*result) : ArrayD();
}

std::size_t count_nodes_named(const graph::Graph& g, std::string_view part) {
  std::size_t n = 0;
  for (std::size_t id = 0; id < g.num_nodes(); ++id) {
    if (g.node(id).get_op().name().find(part) != std::string_view::npos) ++n;
  }
  return n;
}

// An operation whose name alone decides its rule; its value is its inputs flattened
// and concatenated.
class NamedOp final : public op::Op {
 public:
  explicit NamedOp(std::string_view name) : name_(name) {}
  std::string_view name() const override { return name_; }
  op::ComputeResult compute(op::ComputeContext& ctx) const override {
    std::vector<double> all;
    for (const ArrayD* input : ctx.inputs()) all.insert(all.end(), input->data().begin(), input->data().end());
    ctx.append_output(ArrayD::from_vec(all));
    return {};
  }
  void grad(op::GradientContext& ctx) const override { ctx.set_input_grad(0, ctx.output_grad()); }

 private:
  std::string_view name_;
};

Tensor named(std::string_view name, std::initializer_list<Tensor> inputs) {
  tensor::TensorBuilder builder(inputs.begin()->graph());
  for (const Tensor& input : inputs) builder.append_input_with_selector(input);
  return builder.build(NamedOp(name));
}

// ---- The engine's training loss against central finite differences ----------------

// An EML tree as the engine builds it: leaf 1, a trainable constant, a column, or eml.
struct Tree {
  enum class Kind { One, Const, Var, Eml } kind;
  std::size_t index = 0;  // constant or column
  std::shared_ptr<const Tree> left = nullptr, right = nullptr;
};
using TreeP = std::shared_ptr<const Tree>;
TreeP one() { return std::make_shared<Tree>(Tree{Tree::Kind::One}); }
TreeP c(std::size_t i) { return std::make_shared<Tree>(Tree{Tree::Kind::Const, i}); }
TreeP x(std::size_t i) { return std::make_shared<Tree>(Tree{Tree::Kind::Var, i}); }
TreeP eml(TreeP l, TreeP r) { return std::make_shared<Tree>(Tree{Tree::Kind::Eml, 0, std::move(l), std::move(r)}); }

// The guarded forward pass in the graph: eml(a, b) = exp(clip(a, -50, 50)) − ln(clip(b, 1e-12, max)).
Tensor forward(const TreeP& t, std::span<const Tensor> columns, Tensor ones, std::span<const Tensor> params) {
  switch (t->kind) {
    case Tree::Kind::One: return ones;
    case Tree::Kind::Const: return mul(params[t->index], ones);
    case Tree::Kind::Var: return columns[t->index];
    case Tree::Kind::Eml: {
      const Tensor l = forward(t->left, columns, ones, params);
      const Tensor r = forward(t->right, columns, ones, params);
      return sub(exp(clip(l, -50.0, 50.0)), ln(clip(r, 1e-12, DBL_MAX)));
    }
  }
  return ones;
}

// The same in extended precision: the oracle, precise enough for central differences
// of losses in the hundreds of millions.
using Wide = long double;
Wide forward_row(const TreeP& t, const std::vector<double>& row, const std::vector<Wide>& params) {
  switch (t->kind) {
    case Tree::Kind::One: return 1.0L;
    case Tree::Kind::Const: return params[t->index];
    case Tree::Kind::Var: return row[t->index];
    case Tree::Kind::Eml: {
      const Wide l = forward_row(t->left, row, params);
      const Wide r = forward_row(t->right, row, params);
      return std::exp(std::fmax(std::fmin(l, 50.0L), -50.0L)) -
             std::log(std::fmax(std::fmin(r, Wide{DBL_MAX}), 1e-12L));
    }
  }
  return 0.0L;
}

struct Data {
  std::vector<std::vector<double>> rows;
  std::vector<double> y;
};

Wide mse(const TreeP& t, const Data& d, const std::vector<Wide>& params) {
  Wide sum = 0.0L;
  for (std::size_t r = 0; r < d.rows.size(); ++r) {
    const Wide e = forward_row(t, d.rows[r], params) - d.y[r];
    sum += e * e;
  }
  return sum / static_cast<Wide>(d.rows.size());
}

// The gradient of the loss for every constant, per row (the broadcast shape the graph
// keeps), from one training graph.
std::vector<ArrayD> graph_gradients(const TreeP& t, const Data& d, const std::vector<double>& params) {
  const std::size_t n = d.rows.size(), m = d.rows[0].size();
  std::vector<ArrayD> columns(m, ArrayD::zeros(std::array<std::size_t, 1>{n}));
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t j = 0; j < m; ++j) columns[j][r] = d.rows[r][j];
  }
  const ArrayD ones = ArrayD::from_elem(std::array<std::size_t, 1>{n}, 1.0);
  const ArrayD y = ArrayD::from_vec(d.y);
  variable::VariableEnvironment env;
  std::vector<variable::VariableID> ids;
  for (std::size_t i = 0; i < params.size(); ++i)
    ids.push_back(env.slot("c" + std::to_string(i)).set(vec({params[i]})));
  return env.run([&](graph::Context& ctx) {
    std::vector<Tensor> cols, vars;
    evaluation::Feeder feeder;
    for (std::size_t j = 0; j < m; ++j) {
      cols.push_back(ctx.placeholder(j == 0 ? "x0" : "x1", {-1}));
      feeder.push(evaluation::PlaceholderKey::by_id(cols.back().id()), columns[j]);
    }
    const Tensor ones_t = ctx.placeholder("ones", {-1});
    const Tensor y_t = ctx.placeholder("y", {-1});
    feeder.push(evaluation::PlaceholderKey::by_id(ones_t.id()), ones);
    feeder.push(evaluation::PlaceholderKey::by_id(y_t.id()), y);
    for (auto id : ids) vars.push_back(ctx.variable_by_id(id));
    const Tensor diff = sub(forward(t, cols, ones_t, vars), y_t);
    const Tensor loss = tensor_ops::reduction::reduce_mean(mul(diff, diff), std::array<std::int32_t, 1>{0}, false);
    const std::vector<Tensor> gs = grad(std::span(&loss, 1), vars);
    evaluation::Evaluator evaluator = ctx.evaluator();
    for (const Tensor& g : gs) evaluator.push(g);
    std::vector<ArrayD> out;
    for (auto& r : evaluator.set_feeder(feeder).run()) {
      EXPECT_TRUE(r.has_value()) << r.error().debug();
      out.push_back(r ? std::move(*r) : ArrayD());
    }
    return out;
  });
}

struct LossCase {
  std::string name;
  TreeP tree;
  std::vector<double> params;
  std::vector<std::pair<std::size_t, std::size_t>> clipped;  // (constant, row) held by a clip
};

// x0 holds 0, a negative and a large value for the clips; x1 keeps values moderate.
const Data data{{{0.5, 1.0}, {1.5, 0.5}, {0.0, 2.0}, {-1.0, 0.3}, {60.0, 1.2}, {2.0, 0.7}},
                {1.0, -2.0, 0.5, 3.0, 1.0, -1.0}};

class TrainingLossGradient : public ::testing::TestWithParam<LossCase> {};

TEST_P(TrainingLossGradient, MatchesCentralDifferences) {
  const LossCase& lc = GetParam();
  const std::vector<ArrayD> per_row = graph_gradients(lc.tree, data, lc.params);
  ASSERT_EQ(per_row.size(), lc.params.size());
  for (std::size_t i = 0; i < lc.params.size(); ++i) {
    SCOPED_TRACE("c" + std::to_string(i));
    double analytic = 0.0;
    for (double g : per_row[i].data()) analytic += g;  // as Adam reduces it
    const Wide h = 1e-6L * std::fmax(1.0L, std::fabs(Wide{lc.params[i]}));
    std::vector<Wide> up(lc.params.begin(), lc.params.end()), down = up;
    up[i] += h;
    down[i] -= h;
    const double numeric = static_cast<double>((mse(lc.tree, data, up) - mse(lc.tree, data, down)) / (2 * h));
    EXPECT_NEAR(analytic, numeric, 1e-6 * std::fmax(1.0, std::fabs(numeric)));
  }
  for (const auto& [constant, row] : lc.clipped) {
    EXPECT_EQ(per_row[constant][row], 0.0) << "c" << constant << " row " << row;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Depths, TrainingLossGradient,
    ::testing::Values(
        LossCase{"depth1_const_left", eml(c(0), x(0)), {0.3}, {}},
        LossCase{"depth1_const_right", eml(x(1), c(0)), {1.7}, {}},
        LossCase{"depth2_two_consts", eml(eml(c(0), x(1)), c(1)), {0.4, 2.0}, {}},
        LossCase{"depth2_leaf_one", eml(c(0), eml(one(), c(1))), {0.5, 1.5}, {}},
        // exp(x0) − ln 20 is negative for x0 < 1.1 (rows 0, 2, 3): ln's clip holds it at
        // 1e-12, so those rows give c0 nothing; c1 still sees them.
        LossCase{"depth2_ln_clip_rows", eml(c(1), eml(x(0), c(0))), {20.0, 0.5}, {{0, 0}, {0, 2}, {0, 3}}},
        LossCase{"depth3_four_consts", eml(eml(c(0), eml(x(1), c(1))), eml(c(2), c(3))), {0.2, 1.3, -0.4, 0.9}, {}},
        LossCase{"depth3_six_consts",
                 eml(eml(eml(c(0), x(1)), eml(c(1), c(2))), eml(eml(c(3), x(1)), eml(c(4), c(5)))),
                 {0.1, 0.5, 1.2, -0.3, 0.6, 2.0},
                 {}}),
    case_name<LossCase>);

// ---- Own and matrix gradients against central differences of the graph's own values ---

struct ReductionCase {
  std::string name;
  ArrayD x;
  std::function<Tensor(Tensor)> build;
};

Tensor reduce_sum_axis(Tensor x, std::int32_t axis) {
  return tensor::TensorBuilder(x.graph())
      .append_input_with_selector(x)
      .append_input_with_selector(tensor::as_tensor(std::array<std::int32_t, 1>{axis}, x.graph()))
      .build(tensor_ops::reduction_ops::ReduceSum(false, false));
}

// Weights make every reduced element count differently, so a wrong spread shows.
Tensor weighted(Tensor reduced, ArrayD weights) {
  return mul(reduced, tensor_ops::convert_to_tensor(std::move(weights), reduced.graph()));
}

Tensor constant(ArrayD a, const Tensor& like) { return tensor_ops::convert_to_tensor(std::move(a), like.graph()); }

class ReductionGradient : public ::testing::TestWithParam<ReductionCase> {};

TEST_P(ReductionGradient, MatchesCentralDifferences) {
  const ReductionCase& rc = GetParam();
  graph::run([&](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {});
    const Tensor y = rc.build(x);
    const Tensor g = grad(std::span(&y, 1), std::span(&x, 1))[0];
    const auto evaluate = [&](Tensor t, const ArrayD& at) {
      evaluation::Feeder feeder;
      feeder.push(evaluation::PlaceholderKey::by_id(x.id()), at);
      return value(ctx, t, feeder);
    };
    const ArrayD analytic = evaluate(g, rc.x);
    ASSERT_EQ(shape_of(analytic), shape_of(rc.x));
    for (std::size_t k = 0; k < rc.x.len(); ++k) {
      const double h = 1e-6;
      ArrayD up = rc.x, down = rc.x;
      up[k] += h;
      down[k] -= h;
      const ArrayD y_up = evaluate(y, up), y_down = evaluate(y, down);
      double diff = 0.0;
      for (double v : y_up.data()) diff += v;
      for (double v : y_down.data()) diff -= v;
      EXPECT_NEAR(analytic[k], diff / (2 * h), 1e-6) << "element " << k;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(
    OwnGradients, ReductionGradient,
    ::testing::Values(
        ReductionCase{
            "mean_of_a_vector", vec({1, -2, 4, 0.5}),
            [](Tensor x) { return tensor_ops::reduction::reduce_mean(x, std::array<std::int32_t, 1>{0}, false); }},
        ReductionCase{"mean_over_columns", array({2, 3}, {1, 2, 3, 4, 5, 6}),
                      [](Tensor x) {
                        return weighted(tensor_ops::reduction::reduce_mean(x, std::array<std::int32_t, 1>{1}, false),
                                        vec({1, 3}));
                      }},
        ReductionCase{"sum_over_rows", array({2, 3}, {1, 2, 3, 4, 5, 6}),
                      [](Tensor x) {
                        return weighted(reduce_sum_axis(x, 0), vec({1, 2, 5}));
                      }},
        ReductionCase{"product_over_columns", array({2, 3}, {1.5, -2, 3, 0.5, 4, 2}),
                      [](Tensor x) {
                        return weighted(tensor_ops::reduction::reduce_prod(x, std::array<std::int32_t, 1>{1}, false),
                                        vec({1, -2}));
                      }}),
    case_name<ReductionCase>);

namespace la = tensor_ops::linear_algebra;

INSTANTIATE_TEST_SUITE_P(
    MatrixRules, ReductionGradient,
    ::testing::Values(ReductionCase{"matmul_left_operand", array({2, 3}, {1, -2, 3, 0.5, 4, 2}),
                                    [](Tensor x) {
                                      return weighted(la::matmul(x, constant(array({3, 2}, {1, 2, -1, 0.5, 3, 1}), x)),
                                                      array({2, 2}, {1, 2, 3, 4}));
                                    }},
                      ReductionCase{"matmul_right_operand", array({3, 2}, {1, 2, -1, 0.5, 3, 1}),
                                    [](Tensor x) {
                                      return weighted(la::matmul(constant(array({2, 3}, {1, -2, 3, 0.5, 4, 2}), x), x),
                                                      array({2, 2}, {1, -1, 2, 5}));
                                    }},
                      ReductionCase{"matrix_inverse", array({2, 2}, {2, 1, 0.5, 3}),
                                    [](Tensor x) {
                                      return weighted(la::matrix_inverse(x), array({2, 2}, {1, 2, -3, 0.5}));
                                    }}),
    case_name<ReductionCase>);

// Rules that build matrix and backward nodes, checked by the operation of the node each
// input receives (ConvertToTensor: the zeros of an input passed nothing).
struct BuiltCase {
  std::string name;                       // the operation's name
  std::vector<std::string> gradient_ops;  // one per input
};

class MatrixRuleNodes : public ::testing::TestWithParam<BuiltCase> {};

TEST_P(MatrixRuleNodes, AreTheRulesOperations) {
  const BuiltCase& bc = GetParam();
  graph::run([&](graph::Context& ctx) {
    std::vector<Tensor> inputs;
    for (std::size_t i = 0; i < bc.gradient_ops.size(); ++i) {
      inputs.push_back(named("Identity", {ctx.placeholder(i == 0 ? "a" : "b", {2, 2})}));
    }
    tensor::TensorBuilder builder(ctx);
    for (const Tensor& input : inputs) builder.append_input_with_selector(input);
    const Tensor y = builder.build(NamedOp(bc.name));
    const std::vector<Tensor> g = grad(std::span(&y, 1), inputs);
    for (std::size_t i = 0; i < g.size(); ++i) {
      EXPECT_EQ(ctx.node(g[i].id()).get_op().name(), bc.gradient_ops[i]) << "input " << i;
    }
  });
}

const std::string ops = "ketra_autograd::tensor_ops::";
const std::string zeros = ops + "const_gen_ops::ConvertToTensor<f64>";
const std::string decomposition = ops + "decomposition_ops::backward_ops::";

INSTANTIATE_TEST_SUITE_P(ByName, MatrixRuleNodes,
                         ::testing::Values(BuiltCase{"ExtractDiag", {ops + "linalg_ops::DiagOp"}},
                                           BuiltCase{"Trace", {ops + "linalg_ops::TraceBackwardOp"}},
                                           BuiltCase{"MatInv", {ops + "math_ops::NegOp"}},
                                           BuiltCase{"Determinant", {ops + "binary_ops::MulOp"}},
                                           BuiltCase{"LinearSolve", {ops + "math_ops::NegOp", ops + "dot_ops::MatMul"}},
                                           BuiltCase{"MatrixSqrt", {"MatrixSqrtBackward"}},
                                           BuiltCase{"MatrixLog", {"MatrixLogBackward"}},
                                           BuiltCase{"MatrixPow", {zeros}},
                                           BuiltCase{"Kronecker", {"KroneckerGradA", "KroneckerGradB"}},
                                           BuiltCase{"Cholesky", {decomposition + "CholeskyBackwardOp"}},
                                           BuiltCase{"LUExtractU", {decomposition + "LUExtractBackwardOp"}},
                                           BuiltCase{"LUExtractP", {zeros}},
                                           BuiltCase{"QRExtractQ", {decomposition + "QRExtractBackwardOp"}},
                                           BuiltCase{"SVDExtractS", {"SVDBackward"}}),
                         case_name<BuiltCase>);

// ---- Structure of the pass -------------------------------------------------------

TEST(Grad, DiamondSharesOneSumAndProcessesTheJointOnce) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {3});
    const Tensor b = exp(x);
    const Tensor y = add(neg(b), mul(b, b));  // dy/dx = (−1 + 2·e^x)·e^x
    const std::size_t sums_before = count_nodes_named(ctx, "AddN");
    const std::vector<Tensor> g = grad(std::span(&y, 1), std::span(&x, 1));
    EXPECT_EQ(count_nodes_named(ctx, "AddN") - sums_before, 1u);  // b's three partials, one sum
    const ArrayD xs = vec({-1.0, 0.0, 0.5});
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_id(x.id()), xs);
    const ArrayD got = value(ctx, g[0], feeder);
    ASSERT_EQ(got.len(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
      const double e = std::exp(xs[k]);
      EXPECT_NEAR(got[k], (-1.0 + 2.0 * e) * e, 1e-15) << k;
    }
  });
}

TEST(Grad, UnrelatedVariablesGetTimesZero) {
  variable::VariableEnvironment env;
  const auto far = env.slot("far").set(vec({2.0, inf, nan, -inf}));
  const auto near = env.slot("near").set(vec({1.0, 2.0}));
  env.run([&](graph::Context& ctx) {
    const Tensor a = ctx.variable_by_id(far);
    const Tensor b = ctx.variable_by_id(near);
    // b reaches y only through its shape, which no gradient crosses.
    const Tensor y = exp(tensor_ops::shape(b));
    const Tensor xs[] = {a, b};
    const std::vector<Tensor> g = grad(std::span(&y, 1), xs);
    const ArrayD ga = value(ctx, g[0]);
    EXPECT_EQ(ga[0], 0.0);
    EXPECT_TRUE(std::isnan(ga[1]) && std::isnan(ga[2]) && std::isnan(ga[3]));
    EXPECT_EQ(values_of(value(ctx, g[1])), (std::vector<double>{0.0, 0.0}));
  });
}

// Passes on one thread reuse each other's records: a node this pass never reached has
// none, whatever the last pass recorded for the same id.
TEST(Grad, APassSeesNoRecordOfThePassBefore) {
  variable::VariableEnvironment env;
  const auto w = env.slot("w").set(vec({2.0}));
  env.run([&](graph::Context& ctx) {
    const Tensor x = ctx.variable_by_id(w);
    const Tensor y = mul(x, x);
    EXPECT_EQ(values_of(value(ctx, grad(std::span(&y, 1), std::span(&x, 1))[0])), (std::vector<double>{4.0}));
  });
  env.run([&](graph::Context& ctx) {
    const Tensor x = ctx.variable_by_id(w);  // the same id as the last pass's x
    const Tensor y = exp(tensor_ops::shape(x));
    const Tensor g = grad(std::span(&y, 1), std::span(&x, 1))[0];
    EXPECT_EQ(ctx.node(g.id()).get_op().name(), "ketra_autograd::tensor_ops::binary_ops::MulOp");  // x·0
    EXPECT_EQ(values_of(value(ctx, g)), (std::vector<double>{0.0}));
  });
}

TEST(Grad, ReachedButPassedNothingGivesZerosOfTheKnownShape) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2, -1});
    const Tensor y = named("EmlOp", {x});  // the rule for eml nodes passes nothing
    const std::vector<Tensor> g = grad(std::span(&y, 1), std::span(&x, 1));
    const ArrayD got = value(ctx, g[0]);
    EXPECT_EQ(shape_of(got), (std::vector<std::size_t>{2, 0}));
  });
}

TEST(Grad, ConcatenationGivesEachInputItsShareOfTheFlatGradient) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = ctx.placeholder("a", {2});
    const Tensor b = ctx.placeholder("b", {3});
    const Tensor weights = tensor_ops::convert_to_tensor(vec({1, 2, 3, 4, 5}), ctx);
    const Tensor y = mul(named("test::Concat", {a, b}), weights);
    const Tensor xs[] = {a, b};
    const std::vector<Tensor> g = grad(std::span(&y, 1), xs);
    const ArrayD fa = vec({0, 0}), fb = vec({0, 0, 0});
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_id(a.id()), fa).push(evaluation::PlaceholderKey::by_id(b.id()), fb);
    EXPECT_EQ(values_of(value(ctx, g[0], feeder)), (std::vector<double>{1, 2}));
    EXPECT_EQ(values_of(value(ctx, g[1], feeder)), (std::vector<double>{3, 4, 5}));
  });
}

TEST(Grad, YThatIsAnXGetsOnesOfItsShape) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = tensor_ops::convert_to_tensor(array({2, 2}, {1, 2, 3, 4}), ctx);
    const Tensor y = mul(x, x);
    const std::vector<Tensor> g = grad(std::span(&y, 1), std::span(&y, 1));
    EXPECT_EQ(values_of(value(ctx, g[0])), (std::vector<double>{1, 1, 1, 1}));
  });
}

TEST(Grad, ScalarMulTakesItsOwnRuleNotTheProductRule) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = tensor_ops::convert_to_tensor(vec({1.0, 2.0}), ctx);
    const Tensor x_var = named("Identity", {x});  // differentiable stand-in for a variable
    const Tensor y = tensor_ops::linear_algebra::scalar_mul(x_var, 2.5);
    const std::vector<Tensor> g = grad(std::span(&y, 1), std::span(&x_var, 1));
    EXPECT_EQ(values_of(value(ctx, g[0])), (std::vector<double>{2.5, 2.5}));
  });
}

TEST(Grad, SliceGradIsNotASliceAndPassesXTimesZeroPlusGy) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor y = named("ketra_autograd::tensor_ops::array_ops::SliceGrad", {x});
    const std::vector<Tensor> g = grad(std::span(&y, 1), std::span(&x, 1));
    const ArrayD fed = vec({inf, 3.0});
    evaluation::Feeder feeder;
    feeder.push(evaluation::PlaceholderKey::by_id(x.id()), fed);
    const ArrayD got = value(ctx, g[0], feeder);
    EXPECT_TRUE(std::isnan(got[0]));  // inf·0 + 1
    EXPECT_EQ(got[1], 1.0);
  });
}

TEST(Grad, EmptyXsStillWalksAndEmptyYsPanics) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor y = exp(x);
    const std::size_t before = ctx.num_nodes();
    EXPECT_TRUE(grad(std::span(&y, 1), {}).empty());
    // The wrapping sum and the seed; no rule builds nodes for inputs nothing is relevant to.
    EXPECT_EQ(ctx.num_nodes(), before + 2);
    EXPECT_EQ(ctx.node(before + 1).get_op().name(), "ketra_autograd::tensor_ops::const_gen_ops::Scalar<f64>");
    EXPECT_EQ(panic_message([&] { grad({}, std::span(&x, 1)); }),
              "index out of bounds: the len is 0 but the index is 0");
  });
}

TEST(Grad, TensorsOfAnotherGraphPanic) {
  graph::run([](graph::Context& ctx) {
    const Tensor y = exp(ctx.placeholder("x", {1}));
    graph::run([&](graph::Context& other) {
      const Tensor foreign = other.placeholder("x", {1});
      EXPECT_EQ(panic_message([&] { grad(std::span(&y, 1), std::span(&foreign, 1)); }),
                "Detected tensors belonging to different graphs");
    });
  });
}

}  // namespace
