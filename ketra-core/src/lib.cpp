// The library's only load-time initialiser. Nothing references this file: the library is
// linked whole-archive so that the linker keeps it all the same.
#include <mutex>

#include "ketra_core/api_freeze.hpp"

namespace ketra_core {

namespace {

std::once_flag initialised;

// noexcept: a failure while the library loads ends the process instead of escaping into
// the loading program.
struct LoadTimeInit {
  LoadTimeInit() noexcept { std::call_once(initialised, api_freeze::api_freeze_impl::init); }
};

const LoadTimeInit load_time_init;

}  // namespace

}  // namespace ketra_core
