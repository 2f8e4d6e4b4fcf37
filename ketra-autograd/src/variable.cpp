#include "ketra_autograd/variable.hpp"

#include "ketra_autograd/graph.hpp"
#include "support/panic.hpp"
#include "support/siphash.hpp"

namespace ketra_autograd::variable {

namespace {

void write_str(support::SipHasher13& hasher, std::string_view text) {
  hasher.write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  hasher.write_u8(0xff);  // terminator: ("ab", "c") and ("a", "bc") hash apart
}

}  // namespace

std::size_t FullNameHash::operator()(const FullName& key) const noexcept {
  support::SipHasher13 hasher;
  write_str(hasher, key.namespace_);
  write_str(hasher, key.name);
  return static_cast<std::size_t>(hasher.finish());
}

std::optional<VariableID> VariableNamespace::find(const std::string& name) const {
  const auto found = env_->names_.find(FullName(name_, name));
  if (found == env_->names_.end()) return std::nullopt;
  return found->second;
}

std::vector<VariableID> VariableNamespace::variable_ids() const {
  std::vector<VariableID> ids;
  for (const auto& [key, id] : env_->names_) {
    if (key.namespace_ == name_) ids.push_back(id);
  }
  return ids;
}

void NamedVariableSlot::set(ArrayD array) && { env_->add(FullName(namespace_, std::move(name_)), std::move(array)); }

VariableID NamedDefaultVariableSlot::set(ArrayD array) && {
  return env_->add(FullName("", std::move(name_)), std::move(array));
}

VariableID VariableEnvironment::add(FullName key, ArrayD array) {
  const VariableID id{arrays_.size()};
  names_.insert_or_assign(std::move(key), id);
  arrays_.push_back(std::move(array));
  return id;
}

}  // namespace ketra_autograd::variable

namespace ketra_autograd::graph {

tensor::Tensor Graph::variable_by_name(std::string name, const variable::VariableNamespace& ns) {
  if (const auto id = ns.find(name)) return variable_by_id(*id);
  if (ns.name().empty()) support::panic("variable array not found in default namespace: {}", name);
  support::panic("variable array `{}` not found in namespace {}", name, ns.name());
}

}  // namespace ketra_autograd::graph
