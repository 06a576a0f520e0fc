// Feeds arbitrary frame texts to the writer's password blanking and checks what the
// trace may show: nothing after the first "password:" but one line feed, the text
// unchanged when it holds no "password:", the report of blanking exactly when it
// does, the same result from the quiet variant, and a blanked text that blanks to
// itself.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "connection/WriteThread.h"

namespace {

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "blank_password_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  bool blanked = false;
  const std::string shown = vantiro::BlankPassword(text, &blanked);

  const std::size_t key = text.find("password:");
  Check(blanked == (key != std::string::npos), "blanking reported wrongly");
  if (key == std::string::npos) {
    Check(shown == text, "a text without a password changed");
  } else {
    const std::size_t after = key + 9;
    const std::string_view kept(text.data(), after);
    // Everything up to and including the key stays; of what followed, at most one
    // line feed is shown.
    Check(shown.size() >= after && std::string_view(shown).substr(0, after) == kept,
          "the text before the password changed");
    const std::string_view rest = std::string_view(shown).substr(after);
    Check(rest.empty() || rest == "\n", "something after \"password:\" is shown");
    Check(rest.empty() == (after == text.size()), "the line feed after the key");
  }

  bool quietBlanked = false;
  Check(vantiro::WithoutPassword(text, &quietBlanked) == shown && quietBlanked == blanked,
        "the quiet blanking differs");
  Check(vantiro::BlankPassword(shown) == shown, "a blanked text blanks again differently");
  return 0;
}
