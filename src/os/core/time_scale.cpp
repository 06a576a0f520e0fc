#include "qmos/time_scale.h"

#include <cmath>
#include <cstdlib>

namespace qmos {

namespace {

double ReadTimeScale() {
  const char* text = std::getenv("VANTIRO_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0) return 1.0;
  return value;
}

}  // namespace

double TimeScale() {
  static const double scale = ReadTimeScale();
  return scale;
}

std::int64_t ScaledMs(std::int64_t ms) {
  if (ms <= 0) return ms;
  const double scaled = std::llround(static_cast<double>(ms) * TimeScale());
  return scaled < 1.0 ? 1 : static_cast<std::int64_t>(scaled);
}

}  // namespace qmos
