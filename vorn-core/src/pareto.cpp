#include "vorn_core/pareto.hpp"

#include <algorithm>
#include <cmath>

namespace vorn_core::pareto {

namespace {

constexpr double same_mse_tolerance = 1e-12;

bool dominates(const Solution& a, const Solution& b) {
  return a.complexity <= b.complexity && a.mse <= b.mse && (a.complexity < b.complexity || a.mse < b.mse);
}

}  // namespace

ParetoFront ParetoFront::from_candidates(std::vector<Solution> candidates) {
  ParetoFront front;
  std::vector<Solution>& members = front.members_;
  for (Solution& candidate : candidates) {
    if (!std::isfinite(candidate.mse)) continue;
    const auto beats_candidate = [&](const Solution& m) { return dominates(m, candidate); };
    if (std::any_of(members.begin(), members.end(), beats_candidate)) continue;
    std::erase_if(members, [&](const Solution& m) { return dominates(candidate, m); });
    const auto same_point = [&](const Solution& m) {
      return m.complexity == candidate.complexity && std::fabs(m.mse - candidate.mse) < same_mse_tolerance;
    };
    if (std::any_of(members.begin(), members.end(), same_point)) continue;
    members.push_back(std::move(candidate));
  }
  std::stable_sort(members.begin(), members.end(), [](const Solution& a, const Solution& b) {
    if (a.complexity != b.complexity) return a.complexity < b.complexity;
    return a.mse < b.mse;
  });
  return front;
}

std::vector<const Solution*> ParetoFront::pareto_top(std::size_t k) const {
  std::vector<const Solution*> ranked;
  ranked.reserve(members_.size());
  for (const Solution& m : members_) ranked.push_back(&m);
  std::stable_sort(ranked.begin(), ranked.end(), [](const Solution* a, const Solution* b) { return a->mse < b->mse; });
  ranked.resize(std::min(k, ranked.size()));
  return ranked;
}

const Solution* ParetoFront::best() const {
  const Solution* choice = nullptr;
  for (const Solution& m : members_) {
    if (choice == nullptr || m.mse < choice->mse) choice = &m;
  }
  return choice;
}

}  // namespace vorn_core::pareto
