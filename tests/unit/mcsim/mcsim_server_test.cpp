// End-to-end tests of mcsim: the built program runs as a child process, TLS clients
// send it one request per connection over loopback, and the tests check the answers,
// the event lines, and that no password ever shows in them.
#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testsupport/child_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/tls_test_client.h"

namespace {

using namespace std::chrono_literals;
using testsupport::FieldValue;
using testsupport::Fields;
using testsupport::Process;
using testsupport::ReadEnd;
using testsupport::TempDir;
using testsupport::TlsTestClient;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;

// Every password of these tests: none may appear in an event line or on standard error.
const char* const kSecrets[] = {"Owl-5678", "Lark-9012", "Wren-3456", "Kite-7777"};

class McsimTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--make-certs", certs().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        Process::Options options;
        options.wait = 10s;
        options.requireCleanExit = true;
        options.errorLog = (std::filesystem::path(dir_.Path()) / "stderr.txt").string();
        mc_ = std::make_unique<Process>(testsupport::BinDir() + "/mcsim", args, options);
        port_ = mc_->WaitEvent("listening").value("port", 0);
        ASSERT_GT(port_, 0);
    }

    std::filesystem::path certs() const { return std::filesystem::path(dir_.Path()) / "certs"; }

    // Sends commands and waits until mcsim has run them (commands run in order, so
    // once the listing they end with is reported, they have taken effect). The listing.
    Process::Event Command(const std::vector<std::string>& lines) {
        for (const auto& line : lines) mc_->Send(line);
        mc_->Send("mailboxes");
        return mc_->WaitEvent("mailboxes");
    }

    // One connection, one request: the answer's fields, or nullopt when none came
    // (with how the connection ended in `end`).
    std::optional<Fields> Request(const Fields& request, ReadEnd* end = nullptr,
                                  std::chrono::milliseconds wait = 10s) {
        TlsTestClient client;
        EXPECT_TRUE(client.Connect(port_, certs() / "ca.pem")) << client.error();
        client.SendPacket(request);
        auto answer = client.ReadPacket(wait);
        if (end) *end = client.last_end();
        if (answer) {
            client.ReadToEnd(2s);  // the answer is followed by the TLS close
            EXPECT_EQ(client.last_end(), ReadEnd::kCloseNotify);
        }
        return answer;
    }

    Fields Get(const std::string& profile, const std::string& password) {
        return Request({{"command", "get_preferences"}, {"profile", profile},
                        {"password", password}})
            .value_or(Fields{});
    }

    std::string Put(const std::string& profile, const std::string& password, Fields prefs) {
        Fields request = {{"command", "put_preferences"}, {"profile", profile},
                          {"password", password}};
        request.insert(request.end(), prefs.begin(), prefs.end());
        return FieldValue(Request(request).value_or(Fields{}), "result").value_or("<none>");
    }

    void TearDown() override {
        if (!mc_) return;
        mc_->CloseInput();
        EXPECT_EQ(mc_->WaitExit(), 0);
        std::ostringstream all;
        for (const auto& event : mc_->Events()) all << event.dump() << '\n';
        std::ifstream err(std::filesystem::path(dir_.Path()) / "stderr.txt");
        all << err.rdbuf();
        for (const char* secret : kSecrets) EXPECT_THAT(all.str(), Not(HasSubstr(secret)));
    }

    TempDir dir_;
    std::unique_ptr<Process> mc_;
    int port_ = 0;
};

TEST_F(McsimTest, GetAnswersByProfileAndPassword) {
    Start({"--mailbox", "1234:Owl-5678:first_time_user=firstime,quota=10"});
    EXPECT_THAT(Get("1234", "Owl-5678"),
                ElementsAre(Pair("result", "ok"), Pair("pref.first_time_user", "firstime"),
                            Pair("pref.quota", "10")));

    const struct {
        Fields request;
        const char* result;
    } refusals[] = {
        {{{"command", "get_preferences"}, {"profile", "1234"}, {"password", "Lark-9012"}},
         "password_invalid"},
        {{{"command", "get_preferences"}, {"profile", "999"}, {"password", "Owl-5678"}},
         "unknown_mailbox"},
        {{{"command", "get_preferences"}, {"profile", "1234"}}, "failure"},
        {{{"command", "delete_mailbox"}, {"profile", "1234"}, {"password", "Owl-5678"}}, "failure"},
        {{{"profile", "1234"}, {"password", "Owl-5678"}}, "failure"},
    };
    for (const auto& c : refusals) {
        EXPECT_THAT(Request(c.request).value_or(Fields{}), ElementsAre(Pair("result", c.result)));
    }

    const auto request = mc_->WaitEvent("request");
    EXPECT_EQ(request["command"], "get_preferences");
    EXPECT_EQ(request["profile"], "1234");
    EXPECT_EQ(request["fields"].dump(),
              R"({"command":"get_preferences","profile":"1234","password":"***"})");
    EXPECT_EQ(mc_->WaitEvent("answer")["result"], "ok");
    EXPECT_EQ(mc_->WaitEvent("closed")["why"], "answered");

    // A mailbox added by command, then replaced: its preferences go with it.
    Command({"mailbox 77 Wren-3456 a=1 b=x\\sy", "pref 77 c 3"});
    EXPECT_THAT(Get("77", "Wren-3456"), ElementsAre(Pair("result", "ok"), Pair("pref.a", "1"),
                                                    Pair("pref.b", "x y"), Pair("pref.c", "3")));
    const auto listing = Command({"mailbox 77 Kite-7777"});
    EXPECT_THAT(Get("77", "Kite-7777"), ElementsAre(Pair("result", "ok")));
    EXPECT_EQ(listing["mailboxes"].dump(),
              R"([{"profile":"1234","prefs":["first_time_user","quota"]},)"
              R"({"profile":"77","prefs":[]}])");
}

// The local date `days` from today, worked out apart from mcsim's own code.
std::string LocalDateIn(int days) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const sys_days date = sys_days(year_month_day(year(local.tm_year + 1900),
                                                 month(static_cast<unsigned>(local.tm_mon + 1)),
                                                 day(static_cast<unsigned>(local.tm_mday)))) +
                         std::chrono::days(days);
    const year_month_day ymd(date);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02u%02u", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return text;
}

TEST_F(McsimTest, ExpiryGivenInDaysIsAnsweredAsTheLocalDate) {
    Start({"--mailbox", "1:Owl-5678:pwd_expiry=+5", "--mailbox",
           "2:Lark-9012:pwd_expiry=20300115"});
    Command({"mailbox 3 Wren-3456 pwd_expiry=-2", "mailbox 4 Kite-7777 pwd_expiry=0"});
    const struct {
        const char* profile;
        const char* password;
        int days;
    } relative[] = {{"1", "Owl-5678", 5}, {"3", "Wren-3456", -2}, {"4", "Kite-7777", 0}};
    for (const auto& c : relative) {
        const std::string before = LocalDateIn(c.days);
        const auto answered = FieldValue(Get(c.profile, c.password), "pref.pwd_expiry");
        const std::string after = LocalDateIn(c.days);  // the day may turn meanwhile
        EXPECT_TRUE(answered == before || answered == after)
            << c.profile << ": " << answered.value_or("<none>");
    }
    EXPECT_EQ(FieldValue(Get("2", "Lark-9012"), "pref.pwd_expiry"), "20300115");
}

TEST_F(McsimTest, PutStoresPreferencesAndChangesThePassword) {
    Start({"--mailbox", "1234:Owl-5678:first_time_user=yes"});
    EXPECT_EQ(Put("1234", "Lark-9012", {{"pref.first_time_user", "no"}}), "password_invalid");
    EXPECT_EQ(Put("999", "Owl-5678", {{"pref.x", "1"}}), "unknown_mailbox");
    EXPECT_EQ(Put("1234", "Owl-5678", {{"pref.", "1"}}), "failure");  // a preference without key
    EXPECT_THAT(Get("1234", "Owl-5678"),
                ElementsAre(Pair("result", "ok"), Pair("pref.first_time_user", "yes")));

    EXPECT_EQ(Put("1234", "Owl-5678", {{"pref.first_time_user", "no"},
                                       {"pref.password", "Lark-9012"},
                                       {"pref.pwd_expiry", "20310101"}}),
              "ok");
    const auto put = mc_->WaitFor(
        [](const Process::Event& e) {
            return e["event"] == "request" && e["fields"].contains("pref.password");
        },
        "the put changing the password");
    EXPECT_EQ(put["fields"]["password"], "***");
    EXPECT_EQ(put["fields"]["pref.password"], "***");
    EXPECT_EQ(FieldValue(Get("1234", "Owl-5678"), "result"), "password_invalid");
    // The password is changed, not kept as a preference; others keep their place.
    EXPECT_THAT(Get("1234", "Lark-9012"),
                ElementsAre(Pair("result", "ok"), Pair("pref.first_time_user", "no"),
                            Pair("pref.pwd_expiry", "20310101")));
}

TEST_F(McsimTest, FaultsApplyOnceOrUntilNormal) {
    Start({"--mailbox", "1:Owl-5678"});
    const Fields get = {{"command", "get_preferences"}, {"profile", "1"}, {"password", "Owl-5678"}};
    const Fields put = {{"command", "put_preferences"}, {"profile", "1"}, {"password", "Owl-5678"},
                        {"pref.x", "1"}};
    auto result = [this](const Fields& request) {
        return FieldValue(Request(request).value_or(Fields{}), "result").value_or("<none>");
    };

    Command({"refuse get mailbox_locked once"});
    EXPECT_EQ(result(get), "mailbox_locked");
    EXPECT_EQ(result(get), "ok");

    Command({"refuse any busy", "refuse put put_refused"});
    EXPECT_EQ(result(get), "busy");
    EXPECT_EQ(result(put), "put_refused");
    EXPECT_EQ(result({{"command", "other"}}), "busy");
    Command({"normal"});
    EXPECT_EQ(result(put), "ok");
    EXPECT_EQ(result(get), "ok");

    // close: the connection ends with a TLS close and no answer.
    Command({"close put once"});
    ReadEnd end = ReadEnd::kData;
    EXPECT_FALSE(Request(put, &end));
    EXPECT_EQ(end, ReadEnd::kCloseNotify);
    mc_->WaitEvent("closed", {{"why", "closed by fault"}});
    EXPECT_EQ(result(put), "ok");

    // silent: the request is read, never answered, and the connection stays open
    // until the client goes.
    Command({"silent any once"});
    int silent_client = 0;
    {
        TlsTestClient client;
        ASSERT_TRUE(client.Connect(port_, certs() / "ca.pem")) << client.error();
        client.SendPacket(get);
        silent_client = mc_->WaitEvent("fault", {{"fault", "silent"}}).value("client", 0);
        EXPECT_FALSE(client.ReadPacket(300ms));
        EXPECT_EQ(client.last_end(), ReadEnd::kTimeout);
    }
    EXPECT_THAT(mc_->WaitEvent("closed", {{"client", silent_client}}).value("why", ""),
                HasSubstr("client closed"));
    EXPECT_EQ(result(get), "ok");

    // A silent connection still open when mcsim quits is closed then.
    Command({"silent get"});
    TlsTestClient held;
    ASSERT_TRUE(held.Connect(port_, certs() / "ca.pem")) << held.error();
    held.SendPacket(get);
    const int held_client = mc_->WaitEvent("fault").value("client", 0);
    mc_->CloseInput();
    EXPECT_EQ(mc_->WaitEvent("closed", {{"client", held_client}})["why"], "server quits");
    EXPECT_FALSE(held.ReadPacket(5s));
    EXPECT_EQ(held.last_end(), ReadEnd::kCloseNotify);
}

TEST_F(McsimTest, BadCommandsAndCommandLinesNeverShowPasswords) {
    Start({"--mailbox", "1:Owl-5678"});
    Command({"mailbox 2 Lark-9012 oops", "mailbox 3 Wren-3456 a=\\q", "pref 1 password Kite-7777",
             "pref 9 a b", "refuse get", "silent sometimes", "@1 close get", "dance"});
    std::vector<std::string> errors;
    for (const auto& event : mc_->Events()) {
        if (event["event"] == "error") errors.push_back(event["message"]);
    }
    EXPECT_EQ(errors.size(), 7u);  // all but the pref that changes the password
    EXPECT_EQ(FieldValue(Get("1", "Kite-7777"), "result"), "ok");

    const auto bad = testsupport::RunProgram(
        testsupport::BinDir() + "/mcsim",
        {"--make-certs", certs().string(), "--mailbox", "5:Owl-5678:k", "--mailbox=6:Lark-9012",
         "--unknown", "Lark-9012"},
        {}, "", 10000);
    EXPECT_EQ(bad.status, 2);
    EXPECT_THAT(bad.out, HasSubstr("bad command line"));
    for (const char* secret : kSecrets) {
        EXPECT_THAT(bad.out + bad.err, Not(HasSubstr(secret)));
    }
}

}  // namespace
