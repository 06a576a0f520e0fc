// The check of the password's expiry with the mailbox server after the multiplexor
// accepted the login, as the client runs it: qmhost with the plug-in, muxsim, and the
// mailbox-server emulator mcsim. The outcomes without a dialog, the preferences cache
// in the install folder, the throttle on repeated lookup answers, and the change
// dialog answered through qmhost's form actions; every run ends with no password in
// the trace or in mcsim's event lines (the fixture's Finish).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "connection_fixture.h"
#include "e2e_support.h"
#include "testsupport/wait.h"

namespace {

using namespace connection_e2e;

const std::string kMailbox = std::string(kProfile) + ":" + kPassword + ":";
const char* const kOnlineCaption = "Quillmere Client ";
const char* const kSupervisorEnded =
    "PluginThread::Execute(): Disconnected from the multiplexor, thread exiting";
const char* const kTooSoon =
    "VantiroImpl::Publish() too soon to validate password again, ignore IP/Port";
const Notice kNetworkFailure{"Failed to Authenticate",
                             "Due to network issue, your password cannot be verified.\nIt will "
                             "remain offline. Please login again or restart \nyour Quillmere "
                             "Client.",
                             0};
const Notice kNotConfigured{
    "Failed to connect to Unified Messaging Server",
    "The Unified Messaging Server has reported that your mailbox is not configured yet.\nSorry "
    "you are not allowed to login according to your corporate security policy.\nPlease ring and "
    "setup your mailbox over phone, then restart the Quillmere Client.",
    16};

class PasswordValidationTest : public ConnectionTest {
 protected:
  void SetUp() override {
    // The preferences cache goes to the install folder: here, the test's folder.
    world.SetString(kSettings, "InstallDir", e2e::HostPath(world.Dir()));
    ConnectionTest::SetUp();
  }

  std::string CacheFile() const { return world.File("Preferences.start"); }
  bool HostSaw(const Process::Match& match) { return host->Saw(match, 0); }

  std::size_t TraceCount(const std::string& line) {
    const std::string trace = e2e::ReadFile(world.TraceFile());
    std::size_t n = 0;
    for (std::size_t at = trace.find(line); at != std::string::npos; at = trace.find(line, at + 1)) ++n;
    return n;
  }

  std::size_t Count(Process& program, const std::string& event, const std::string& command) {
    return Select(program.Events(), [&](const Event& e) {
             return e["event"] == event && (command.empty() || e["command"] == command);
           }).size();
  }

  // Waits for the validation's end state: online ("mc_logged_in" with empty data and
  // the offline-activity request at the multiplexor), or offline (the abort published
  // and the supervisor ended, so that no login follows by itself).
  void ExpectSession(bool online) {
    if (online) {
      EXPECT_TRUE(HostSaw([](const Event& e) { return PluginPublished(e, "mc_logged_in") && e["data"] == ""; }));
      EXPECT_FALSE(NextFrame("offline_activity_request").is_null());
      return;
    }
    EXPECT_TRUE(HostSaw([](const Event& e) { return PluginPublished(e, "mc_logged_out") && e["data"] == "reason:abort\n"; }));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return TraceCount(kSupervisorEnded) > 0; }));
  }

  // Over the whole run, after Finish: one connection to the multiplexor, and "mc_logged_in"
  // and the offline-activity request once each exactly when online.
  void ExpectSessionCounts(bool online) {
    EXPECT_EQ(Count(*mux, "connected", ""), 1u);
    EXPECT_EQ(Count(*mux, "frame", "offline_activity_request"), online ? 1u : 0u);
    EXPECT_EQ(CountPluginPublications("mc_logged_in", ""), online ? 1 : 0);
  }
};

struct Outcome {
  std::string name;
  std::string prefs;  // the mailbox's preferences, as --mailbox takes them
  std::vector<std::pair<std::string, std::string>> settings;
  std::string mcsim;  // a command for mcsim before the login
  std::optional<Notice> notice;  // offline after this box; none: online
  std::string caption;
};

void PrintTo(const Outcome& outcome, std::ostream* out) { *out << outcome.name; }

const Outcome kOutcomes[] = {
    {"TwentyDaysLeft", "first_time_user=1,pwd_expiry=+20", {}, "", std::nullopt, kOnlineCaption},
    {"FourteenDaysLeftWarningOff", "firstime=1,pwd_expiry=+14",
     {{"warn_expired_password", "nO"}, {"caption", " Front Desk "}}, "", std::nullopt, "Front Desk "},
    {"FetchRefused", "first_time_user=1,pwd_expiry=+20", {}, "refuse get failure", kNetworkFailure,
     kOnlineCaption},
    {"NoAnswer", "first_time_user=1,pwd_expiry=+20", {}, "close get", kNetworkFailure, kOnlineCaption},
    {"NotConfigured", "pwd_expiry=+20", {}, "", kNotConfigured, kOnlineCaption},
};

class ValidationOutcomeTest : public PasswordValidationTest,
                              public ::testing::WithParamInterface<Outcome> {};

TEST_P(ValidationOutcomeTest, GoesOnlineOrOfflineAsTheMailboxServerAnswers) {
  const Outcome& c = GetParam();
  const std::string oldCache = "an earlier cache";
  testsupport::WriteFile(CacheFile(), oldCache);
  for (const auto& [key, value] : c.settings) host->Send("set " + key + " " + value);
  StartMailboxServer({kMailbox + c.prefs});
  if (!c.mcsim.empty()) Mc(c.mcsim);
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();

  // The progress text leaves the caption whatever the outcome.
  EXPECT_TRUE(HostSaw([&](const Event& e) { return e["event"] == "caption" && e["text"] == c.caption; }));
  EXPECT_TRUE(!c.notice || HostSaw([&](const Event& e) { return IsMessageBox(e) && e["title"] == c.notice->title; }));
  ExpectSession(!c.notice);
  // A good fetch replaces the cache; a failed one leaves it as it was.
  EXPECT_EQ(e2e::ReadFile(CacheFile()) != oldCache, !c.notice || c.notice->title != kNetworkFailure.title);
  Finish();

  ExpectSessionCounts(!c.notice);
  EXPECT_EQ(Count(*host, "form", ""), 0u) << "no outcome here goes through the change dialog";
  const std::vector<Event> boxes = Select(host->Events(), IsMessageBox);
  ASSERT_EQ(boxes.size(), c.notice ? 1u : 0u);
  if (c.notice) ExpectNotice(boxes[0], *c.notice);
  EXPECT_EQ(Count(*mc, "request", "get_preferences"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ValidationOutcomeTest, ::testing::ValuesIn(kOutcomes),
                         [](const ::testing::TestParamInfo<Outcome>& info) { return info.param.name; });

// The cache holds every fetched preference: a count, then per entry the key's length,
// the key, the value's length and the value, each number in four characters
// right-aligned. The table lists its keys in no fixed order, so the entries are
// matched in whatever order they come.
TEST_F(PasswordValidationTest, AGoodFetchCachesEveryPreferenceInTheInstallFolder) {
  StartMailboxServer({kMailbox + "first_time_user=1,pwd_expiry=20501231,a=1,bc="});
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();
  ASSERT_FALSE(HostPublication("mc_logged_in", "").is_null());

  const std::string cache = e2e::ReadFile(CacheFile());
  std::vector<std::string> entries = {"  15first_time_user   11", "  10pwd_expiry   820501231",
                                      "   1a   11", "   2bc   0"};
  ASSERT_EQ(cache.substr(0, 4), "   4") << cache;
  std::size_t at = 4;
  while (!entries.empty()) {
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [&](const std::string& e) { return cache.compare(at, e.size(), e) == 0; });
    ASSERT_TRUE(entry != entries.end()) << "no expected entry at " << at << " of [" << cache << "]";
    at += entry->size();
    entries.erase(entry);
  }
  EXPECT_EQ(at, cache.size()) << cache;
  Finish();
}

// Once checked, the same server's address answered again within five hours (scaled
// with the run's time scale) starts no second check: mcsim is asked once.
TEST_F(PasswordValidationTest, TheSameServerAnsweredAgainSoonIsNotCheckedAgain) {
  host->Send("set warn_expired_password no");
  StartMailboxServer({kMailbox + "first_time_user=1,pwd_expiry=+14"});
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();
  ASSERT_FALSE(HostPublication("mc_logged_in", "").is_null());

  const std::size_t tooSoon = TraceCount(kTooSoon);
  const std::size_t from = host->Count();
  const std::string answer = "service_name:XXX_MessageCenterAPI\\nip_address:127.0.0.1\\ntcp_port:" +
                             std::to_string(mcPort) + "\\n";
  host->Send("publish service_lookup_response " + answer);
  ASSERT_TRUE(host->Saw([](const Event& e) {
    return e["event"] == "call" && e["queue"] == "service_lookup_response";
  }, from));
  EXPECT_EQ(TraceCount(kTooSoon), tooSoon + 1);
  Finish();
  EXPECT_EQ(Count(*mc, "request", "get_preferences"), 1u);
  EXPECT_EQ(CountPluginPublications("mc_logged_in", ""), 1);
}

// The change dialog, opened when 14 days or fewer remain, answered as the user would:
// postponed without the reminder, left while expired, a new password the mailbox
// server takes, and one it refuses.
struct Change {
  std::string name;
  std::string expiry;  // pwd_expiry as mcsim takes it
  std::string mcsim;   // a command for mcsim before the login
  std::string actions;
  std::string why;     // the first line after the profile
  bool reminder;       // whether the reminder box can be changed
  std::string box;     // a text the one message box holds; empty: no box
  std::string put;     // mcsim's answer to the new password; empty: none sent
  std::vector<std::pair<std::string, std::string>> writes;  // stored once the dialog closed
  bool online;
};

void PrintTo(const Change& change, std::ostream* out) { *out << change.name; }

const char* const kNewPassword = "13572468";
const std::string kTypeNew = std::string("type edtCurrentPassword ") + kPassword +
                             "; type edtNewPassword 1357x2468; type edtReNewPassword " +
                             kNewPassword + "; click buttonChange";

const Change kChanges[] = {
    {"PostponedWithoutReminder", "+10", "", "check cReminder 0; click buttonCancel",
     " will be expired in the next 10 days", true, "", "", {{"warn_expired_password", "no"}}, true},
    {"ExpiredAndLeft", "-1", "", "click buttonCancel", " has expired.", false,
     "Since your password has been expired and not changed, you will remain in offline mode.", "", {},
     false},
    {"Changed", "+5", "", kTypeNew, " will be expired in the next 5 days", true, "", "ok",
     {{"mc_password", kNewPassword}, {"warn_expired_password", "yes"}}, true},
    {"ChangeRefused", "+3", "refuse put failure", kTypeNew, " will be expired in the next 3 days", true,
     "You may want to", "failure", {}, true},
};

class ChangeDialogTest : public PasswordValidationTest, public ::testing::WithParamInterface<Change> {};

TEST_P(ChangeDialogTest, TheDialogPostponesLeavesOrChangesThePassword) {
  const Change& c = GetParam();
  host->Send("form TChangePassword " + c.actions);
  StartMailboxServer({kMailbox + "first_time_user=1,pwd_expiry=" + c.expiry});
  if (!c.mcsim.empty()) Mc(c.mcsim);
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();

  const Event shown = host->WaitEvent("form", {{"form", "TChangePassword"}, {"phase", "shown"}});
  ASSERT_FALSE(shown.is_null());
  EXPECT_EQ(shown["controls"]["lToBeExpired"]["text"], std::string("Password for Voice Mailbox ") + kProfile + c.why);
  EXPECT_EQ(shown["controls"]["cReminder"]["enabled"], c.reminder);
  EXPECT_EQ(shown["controls"]["cReminder"]["checked"], true);
  const Event closed = host->WaitEvent("form", {{"form", "TChangePassword"}, {"phase", "closed"}});
  ASSERT_FALSE(closed.is_null());
  EXPECT_EQ(closed["controls"]["edtNewPassword"]["text"], c.put.empty() ? "" : "********");
  ExpectSession(c.online);
  Finish({kPassword, kNewPassword});

  const std::vector<Event> events = host->Events();
  const auto after = std::find(events.begin(), events.end(), closed);
  std::vector<std::pair<std::string, std::string>> writes;
  for (auto e = after; e != events.end(); ++e)
    if ((*e)["event"] == "put_data") writes.emplace_back((*e)["key"], (*e)["value"]);
  EXPECT_EQ(writes, c.writes);
  const std::vector<Event> boxes = Select(events, IsMessageBox);
  ASSERT_EQ(boxes.size(), c.box.empty() ? 0u : 1u);
  if (!c.box.empty()) {
    EXPECT_THAT(boxes[0]["text"].get<std::string>(), ::testing::HasSubstr(c.box));
  }
  ExpectSessionCounts(c.online);
  // The new password goes last: mcsim's last answer is the one to it.
  EXPECT_EQ(Count(*mc, "request", "put_preferences"), c.put.empty() ? 0u : 1u);
  if (!c.put.empty()) {
    EXPECT_EQ(Select(mc->Events(), [](const Event& e) { return e["event"] == "answer"; }).back()["result"], c.put);
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangeDialogTest, ::testing::ValuesIn(kChanges),
                         [](const ::testing::TestParamInfo<Change>& info) { return info.param.name; });

// The mailbox server's calls run beside the host, not on its main thread. At half
// speed the client waits 5 s for an answer, long enough to see the host serve
// commands meanwhile and to cut the wait short.
class MailboxServerWaitTest : public PasswordValidationTest {
 protected:
  void SetUp() override {
    world.SetTimeScale("0.5");
    PasswordValidationTest::SetUp();
  }
};

TEST_F(MailboxServerWaitTest, ASilentServerNeitherFreezesTheHostNorHoldsUpTheEnd) {
  StartMailboxServer({kMailbox + "first_time_user=1,pwd_expiry=+20"});
  Mc("silent get");
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();
  ASSERT_FALSE(mc->WaitEvent("request", {{"command", "get_preferences"}}, 30s).is_null());

  const auto asked = std::chrono::steady_clock::now();
  host->Send("get mc_profile");
  ASSERT_FALSE(host->WaitEvent("setting", {{"key", "mc_profile"}}, 5s).is_null());
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);

  // Terminate stops the wait: the client closes its connection at once, well within
  // the 5 s it would otherwise wait, and no box reports a network failure.
  Terminate();
  EXPECT_FALSE(mc->WaitEvent("closed", Event::object(), 2s).is_null());
  Finish();
  EXPECT_EQ(Select(host->Events(), IsMessageBox).size(), 0u);
  EXPECT_EQ(TraceCount("passwordValidationThread:Failed to connect to MC"), 0u);
}

// Once the mailbox server has taken a new password, the host stores it, whatever
// ended the session while the answer was on its way: the plug-in's termination, or a
// rejection that ended the connection's supervisor.
struct LateEnd {
  std::string name;
  std::string mux;   // a muxsim command; empty: the host terminates the plug-in
};

void PrintTo(const LateEnd& end, std::ostream* out) { *out << end.name; }

class NewPasswordStoredTest : public MailboxServerWaitTest, public ::testing::WithParamInterface<LateEnd> {};

TEST_P(NewPasswordStoredTest, ANewPasswordTheServerTookIsStoredWhateverEndedTheSession) {
  const LateEnd& c = GetParam();
  host->Send("form TChangePassword " + kTypeNew);
  StartMailboxServer({kMailbox + "first_time_user=1,pwd_expiry=+5"});
  Mc("slow put 2000");
  ASSERT_FALSE(Login().is_null()) << host->ErrorText();
  ASSERT_FALSE(mc->WaitEvent("request", {{"command", "put_preferences"}}, 30s).is_null());

  if (c.mux.empty()) {
    Terminate();
  } else {
    Mux(c.mux);
    ASSERT_FALSE(NextBox().is_null());
    ASSERT_TRUE(testsupport::WaitUntil([&] { return TraceCount(kSupervisorEnded) > 0; }));
  }
  const Event stored = host->WaitEvent("put_data", {{"key", "mc_password"}}, 10s);
  ASSERT_FALSE(stored.is_null());
  EXPECT_EQ(stored["value"], kNewPassword);
  Finish({kPassword, kNewPassword});
  EXPECT_EQ(CountPluginPublications("mc_logged_in", ""), 0);
}

const LateEnd kLateEnds[] = {{"Terminated", ""}, {"SupervisorEnded", "rejection cannot_authenticate"}};

INSTANTIATE_TEST_SUITE_P(LateEnds, NewPasswordStoredTest, ::testing::ValuesIn(kLateEnds),
                         [](const ::testing::TestParamInfo<LateEnd>& info) { return info.param.name; });

}  // namespace
