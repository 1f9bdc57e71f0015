// Number helpers. Conversions truncate toward zero; values with no 32-bit result
// (NaN, out of range) are clamped instead of invoking undefined behaviour.
#include <climits>
#include <cmath>

#include "gamelib/core.h"

namespace gamelib {

int AbsInt(int value) {
  if (value == INT_MIN) return INT_MAX;  // its absolute value does not fit
  return value < 0 ? -value : value;
}

float SqrtFloat(float value) { return std::sqrt(value); }

namespace {
// Exactly representable bounds: [-2^31, 2^31) holds every double that truncates
// into an int.
constexpr double kTwo31 = 2147483648.0;

int ClampTruncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= kTwo31) return INT_MAX;
  if (value <= -kTwo31 - 1.0) return INT_MIN;
  return static_cast<int>(value);
}
}  // namespace

int FloatToInt(float value) { return ClampTruncate(static_cast<double>(value)); }

int DoubleToInt(double value) { return ClampTruncate(value); }

}  // namespace gamelib
