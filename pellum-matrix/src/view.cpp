#include "pellum_matrix/detail/view.hpp"

#include "support/panic.hpp"

namespace pellum_matrix::detail {

void index_out_of_bounds() { support::panic("Index out of bounds"); }
void submatrix_out_of_bounds() { support::panic("Submatrix out of bounds"); }

}  // namespace pellum_matrix::detail
