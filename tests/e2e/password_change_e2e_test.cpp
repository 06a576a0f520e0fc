// The password change's policy as the user meets it in the dialog: every check's
// message in turn, letters dropped from the boxes, and the fourth wrong current
// password locking the change out with nothing sent and the connection taken offline.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_fixture.h"
#include "e2e_support.h"

namespace {

using namespace connection_e2e;

const char* const kWrong = "99990000";
const char* const kErrorTitle = "Quillmere Client Login:Failed to Validate Password";

struct Showing {
  std::string current, newPassword, again;
  Notice box;  // what pressing OK shows
};

std::string DigitsOf(const std::string& text) {
  std::string digits;
  for (const char c : text)
    if (c >= '0' && c <= '9') digits.push_back(c);
  return digits;
}

class PasswordChangeTest : public ConnectionTest {};

TEST_F(PasswordChangeTest, EachPolicyCheckExplainsItselfAndTheFourthWrongPasswordLocksOut) {
  const Notice invalid{kErrorTitle, "Your current password entered is invalid, please try again.", 16};
  const std::vector<Showing> showings = {
      {kWrong, "13572468", "13572468", invalid},
      {kWrong, "13572468", "13572468", invalid},
      // Letters typed into a box vanish: seven digits are left.
      {kPassword, "135x7246", "1357246", {kErrorTitle, "Password must be 8 digits long.", 16}},
      {kPassword, kPassword, kPassword,
       {kErrorTitle, "The new password you entered has been previously used, please choose another one.", 16}},
      {kPassword, "12345678", "12345678",
       {"Quillmere Client",
        "The Password you entered is too simple or geometric patterns which is against the Corvane "
        "security policy. Please choose another one...",
        0}},
      {kWrong, "13572468", "13572468", invalid},
      {kWrong, "13572468", "13572468",
       {"Password is being Locked",
        "You have reached the maximum allowed failed attempts.\nPlease restart your Client.", 0}},
  };
  for (const Showing& s : showings)
    host->Send("form TChangePassword type edtCurrentPassword " + s.current + "; type edtNewPassword " +
               s.newPassword + "; type edtReNewPassword " + s.again + "; click buttonChange");
  StartMailboxServer({std::string(kProfile) + ":" + kPassword + ":first_time_user=1,pwd_expiry=+10"});
  ASSERT_FALSE(Login().is_null());

  const Event shown = host->WaitEvent("form", {{"form", "TChangePassword"}, {"phase", "shown"}}, 60s);
  ASSERT_FALSE(shown.is_null());
  EXPECT_EQ(shown["controls"]["lToBeExpired"]["text"],
            std::string("Password for Voice Mailbox ") + kProfile + " will be expired in the next 10 days");
  EXPECT_EQ(shown["controls"]["cReminder"]["enabled"], true);
  EXPECT_EQ(shown["controls"]["buttonChange"]["enabled"], false);
  for (const Showing& s : showings) {
    const Event closed = host->WaitEvent("form", {{"form", "TChangePassword"}, {"phase", "closed"}});
    ASSERT_FALSE(closed.is_null());
    EXPECT_EQ(closed["controls"]["edtNewPassword"]["text"], std::string(DigitsOf(s.newPassword).size(), '*'));
    ExpectNotice(NextBox(), s.box);
  }
  // Locked out: no new password went out, none was stored, and the session is offline.
  HostPublication("mc_logged_out", "reason:abort\n");
  Finish({kPassword, "13572468", "1357246", "12345678"});
  for (const Event& e : mc->Events())
    EXPECT_NE(e.value("command", std::string()), "put_preferences") << e.dump();
  for (const Event& e : host->Events())
    EXPECT_FALSE(e["event"] == "put_data" && (e["key"] == "mc_password" || e["key"] == "warn_expired_password"))
        << e.dump();
  EXPECT_EQ(Select(host->Events(), [](const Event& e) {
              return e["event"] == "form" && e["phase"] == "shown";
            }).size(),
            showings.size());
}

}  // namespace
