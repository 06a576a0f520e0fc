// The host window's caption while the password is being validated:
// "<base> - [Now Validating Password...]", the dots growing by three at each
// accepted login (3, 6, 9, then 3 again) so the user sees the login repeat.
#pragma once

#include <string>

namespace vantiro {

// The caption's base when the host has none.
inline constexpr const char* kDefaultCaption = "Quillmere Client";

// Advances the process-wide captionDots ("..." at start): seven or more characters
// start over at "...", fewer get "..." more. Returns the new dots.
std::string AdvanceCaptionDots();
// The dots as they stand.
std::string CaptionDots();
// Puts the dots back to "..." (a fresh process state).
void ResetCaptionDots();

// base (kDefaultCaption when empty) + " - [Now Validating Password" + dots + "]".
std::string ValidatingCaption(const std::string& base, const std::string& dots);

}  // namespace vantiro
