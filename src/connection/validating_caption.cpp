#include "connection/validating_caption.h"

#include <mutex>

namespace vantiro {

namespace {

constexpr const char* kDots = "...";

// captionDots: changed on the main thread only, guarded all the same so that a
// reader of the value elsewhere never sees it half written.
struct CaptionDotsState {
  std::mutex mutex;
  std::string dots = kDots;
};

CaptionDotsState& DotsState() {
  static CaptionDotsState state;
  return state;
}

}  // namespace

std::string AdvanceCaptionDots() {
  CaptionDotsState& state = DotsState();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.dots.size() >= 7) {
    state.dots = kDots;
  } else {
    state.dots += kDots;
  }
  return state.dots;
}

std::string CaptionDots() {
  CaptionDotsState& state = DotsState();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.dots;
}

void ResetCaptionDots() {
  CaptionDotsState& state = DotsState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.dots = kDots;
}

std::string ValidatingCaption(const std::string& base, const std::string& dots) {
  return (base.empty() ? std::string(kDefaultCaption) : base) + " - [Now Validating Password" + dots +
         "]";
}

}  // namespace vantiro
