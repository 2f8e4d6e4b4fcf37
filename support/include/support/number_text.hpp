#pragma once
// Locale-independent number text. Every message and rendering of the system prints
// doubles through these functions, never through printf or iostreams.
#include <string>

namespace support {

// Shortest digits that read back to the same double, laid out without an exponent and
// without a trailing ".0": 1.0 -> "1", 1e-7 -> "0.0000001", 1e23 ->
// "100000000000000000000000", -0.0 -> "-0", NaN -> "NaN", infinities "inf" / "-inf".
std::string shortest(double value);
void append_shortest(std::string& out, double value);

// Fixed point with six decimals, correctly rounded from the exact binary value with
// ties to even: 0.0078125 -> "0.007812", -0.0 -> "-0.000000", NaN -> "NaN".
std::string fixed6(double value);
void append_fixed6(std::string& out, double value);

// Exponent form with six decimals, correctly rounded with ties to even, the exponent
// bare (no plus sign, no leading zeros): -1.0 -> "-1.000000e0", 0.001 -> "1.000000e-3",
// 0.0 -> "0.000000e0", NaN -> "NaN", infinities "inf" / "-inf".
std::string exponent6(double value);

}  // namespace support
