#pragma once
// The number texts of statistics replies: sample values "%.2f", times and sample numbers
// "%.0f", counts, intervals and sessions "%li". A value that is not finite (NaN, infinity)
// has no text form and is written as a missing value, "". The texts are made with
// std::to_chars, which gives printf's text for these fixed formats (rounding ties to even on
// the binary value, "-0.00" for negative zero) without its locale and format parsing.
#include <cstdint>
#include <string>

namespace telvo::xmlnumber {

// "%.2f", or "" when the value is not finite.
std::string value(double v);
// "%.0f" (ties round to even, never truncated), or "" when the value is not finite.
std::string whole(double v);
// "%li".
std::string integer(int64_t v);

// The same texts appended to `out`.
void appendValue(std::string& out, double v);
void appendWhole(std::string& out, double v);
void appendInteger(std::string& out, int64_t v);

}  // namespace telvo::xmlnumber
