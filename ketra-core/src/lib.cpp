// The library's only load-time initialiser. Nothing references this file: the library is
// linked whole-archive so that the linker keeps it all the same.
#include "ketra_core/api_freeze.hpp"

namespace ketra_core {

namespace {

// noexcept: a failure while the library loads ends the process instead of escaping into
// the loading program. init() runs its fill once however often it is called.
struct LoadTimeInit {
  LoadTimeInit() noexcept { api_freeze::api_freeze_impl::init(); }
};

const LoadTimeInit load_time_init;

}  // namespace

}  // namespace ketra_core
