// The names of the mailbox-server protocol: commands, fields and results.
#pragma once

namespace mcsim {

inline constexpr const char* kGetPreferences = "get_preferences";
inline constexpr const char* kPutPreferences = "put_preferences";

inline constexpr const char* kCommandField = "command";
inline constexpr const char* kProfileField = "profile";
inline constexpr const char* kPasswordField = "password";
inline constexpr const char* kResultField = "result";
// A preference travels as the field "pref.KEY".
inline constexpr const char* kPrefPrefix = "pref.";

inline constexpr const char* kResultOk = "ok";
inline constexpr const char* kResultFailure = "failure";

}  // namespace mcsim
