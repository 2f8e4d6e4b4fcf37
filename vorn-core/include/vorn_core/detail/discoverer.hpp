#pragma once
// The steps of a discovery, in the order Discoverer::fit runs them; the benchmark times
// them one by one.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "vorn_core/dataset.hpp"
#include "vorn_core/discoverer.hpp"
#include "vorn_core/solution.hpp"

namespace vorn_core::discoverer::detail {

// The first max_shapes distinct shapes of every depth from 0 to `depth` over the leaf 1
// and the columns, in enumeration order; found without listing all shapes.
std::vector<EmlTree> shapes(std::size_t depth, std::size_t columns);

// A shape that scored finitely: its MSE and its position in the shape list.
struct Screened {
  double mse;
  std::size_t shape;
};

struct Screening {
  std::vector<Solution> candidates;  // the scored shapes, in shape order
  std::vector<Screened> ranking;     // by MSE, ties in shape order
};
Screening screen(std::span<const EmlTree> shapes, const DataSet& data);

// Walking the ranking: the shapes, their leaves 1 made constants, that enter fitting: at
// most max_fit_attempts, skipping shapes without constants or with more than
// max_fitted_constants.
std::vector<EmlTree> select_for_fitting(std::span<const EmlTree> shapes, std::span<const Screened> ranking);

// Adam, Levenberg–Marquardt and snapping of one selected shape; none when its fit fails,
// its final MSE is not finite or its LaTeX shows "nan" or "inf" in any letter case.
std::optional<Solution> fit_shape(const EmlTree& tree, const DataSet& data, const Discoverer& config);

}  // namespace vorn_core::discoverer::detail
