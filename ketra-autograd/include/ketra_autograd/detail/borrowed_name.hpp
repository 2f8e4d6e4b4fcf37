#pragma once
// Placeholder names, feed keys and namespaces are kept as views for as long as their
// holder lives. A std::string temporary is gone at the end of the call's statement, so the
// overloads that would keep a view of one are declared deleted with this constraint.
#include <concepts>
#include <string>
#include <type_traits>

namespace ketra_autograd::detail {

// S as deduced by a forwarding reference S&& bound to a std::string rvalue.
template <typename S>
concept TemporaryString = std::same_as<std::remove_const_t<S>, std::string>;

}  // namespace ketra_autograd::detail
