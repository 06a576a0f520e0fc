// End-to-end tests of muxsim: the built program runs as a child process, a TLS client
// talks to it over loopback, and the tests check both the bytes on the wire and the
// event lines.
#include <poll.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include "frame.h"
#include "muxsim_process.h"
#include "testsupport/temp_dir.h"
#include "testsupport/tls_test_client.h"

namespace muxsim_test {
namespace {

using testsupport::FieldValue;
using testsupport::Fields;
using testsupport::ReadEnd;
using testsupport::TempDir;
using testsupport::TlsTestClient;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Pair;

class MuxsimTest : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& extra = {}) {
        mux_ = MuxsimProcess::Listening(certs(), extra);
        ASSERT_GT(mux_->port(), 0);
    }

    std::filesystem::path certs() const { return std::filesystem::path(dir_.Path()) / "certs"; }

    // Connects a client and waits until muxsim reports it as client `number`.
    std::unique_ptr<TlsTestClient> Connect(int number) {
        auto client = std::make_unique<TlsTestClient>();
        EXPECT_TRUE(client->Connect(mux_->port(), certs() / "ca.pem")) << client->error();
        mux_->WaitEvent("connected", {{"client", number}});
        return client;
    }

    // Sends a request the way the plug-in does and returns the answer's fields.
    Fields Request(TlsTestClient& client, const std::string& command, const std::string& id,
                   const std::string& profile = "1234", const std::string& password = "5678") {
        client.SendPacket({{"id", id}, {"profile", profile}, {"password", password},
                           {"command", command}});
        return client.ReadPacket().value_or(Fields{});
    }

    TempDir dir_;
    std::unique_ptr<MuxsimProcess> mux_;
};

TEST_F(MuxsimTest, LoginIsCheckedAgainstConfiguredProfiles) {
    Start({"--profile", "1234:5678", "--profile", "42:0042"});
    auto client = Connect(1);
    EXPECT_THAT(Request(*client, "hello", "a1"), ElementsAre(Pair("id", "a1"), Pair("result", "ok")));
    EXPECT_THAT(Request(*client, "hello", "a2", "42", "0042"),
                ElementsAre(Pair("id", "a2"), Pair("result", "ok")));
    EXPECT_EQ(FieldValue(Request(*client, "hello", "a3", "1234", "9999"), "result"), "password_invalid");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "a4", "77", "5678"), "result"), "password_invalid");

    client->SendPacket({{"id", "a5"}, {"command", "hello"}});  // no profile, no password
    EXPECT_EQ(FieldValue(client->ReadPacket().value_or(Fields{}), "result"), "password_invalid");

    mux_->Send("profile 77 5678");
    mux_->Send("clients");  // commands run in order: once this is reported, the profile is set
    mux_->WaitEvent("clients");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "a6", "77", "5678"), "result"), "ok");
}

// A frame's fields that name a password, in any case, show "***" in the event lines
// unless --show-secrets; the login is still checked against the real value.
TEST_F(MuxsimTest, PasswordFieldsShowOnlyStarsUnlessSecretsAreShown) {
    for (const bool show : {false, true}) {
        Start(show ? std::vector<std::string>{"--profile", "1234:5678", "--show-secrets"}
                   : std::vector<std::string>{"--profile", "1234:5678"});
        auto client = Connect(1);
        client->SendPacket({{"id", "p1"}, {"profile", "1234"}, {"password", "5678"},
                            {"new_Password", "8765"}, {"command", "hello"}});
        EXPECT_EQ(FieldValue(client->ReadPacket().value_or(Fields{}), "result"), "ok");
        EXPECT_EQ(mux_->WaitEvent("frame")["fields"].dump(),
                  show ? R"({"id":"p1","profile":"1234","password":"5678","new_Password":"8765","command":"hello"})"
                       : R"({"id":"p1","profile":"1234","password":"***","new_Password":"***","command":"hello"})");
    }
    mux_->Send("profile 77 pa\\q5678");  // a password it cannot read is not quoted back
    EXPECT_EQ(mux_->WaitEvent("error", {{"command", "profile"}}).dump().find("5678"), std::string::npos);
}

TEST_F(MuxsimTest, ForcedLoginResultsOnceAndUntilAuto) {
    Start();  // no profiles: every login is accepted
    auto client = Connect(1);
    EXPECT_EQ(FieldValue(Request(*client, "hello", "h1", "1", "2"), "result"), "ok");

    mux_->Send("login failure");
    mux_->Send("login mailbox_locked once");
    mux_->Send("clients");
    mux_->WaitEvent("clients");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "h2"), "result"), "mailbox_locked");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "h3"), "result"), "failure");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "h4"), "result"), "failure");
    // A forced login does not touch the answers to other requests.
    EXPECT_EQ(FieldValue(Request(*client, "heartbeat", "b1"), "result"), "ok");

    mux_->Send("login auto");
    mux_->Send("clients");
    mux_->WaitEvent("clients");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "h5"), "result"), "ok");
}

TEST_F(MuxsimTest, AnswersCarryTheRequestIdAndPerCommandResults) {
    Start();
    auto client = Connect(1);
    const std::string sent = client->SendPacket({{"id", "42-abc-1"}, {"profile", "1234"},
                                                 {"password", "5678"}, {"command", "call_hold"},
                                                 {"call_id", "c:7"}});
    EXPECT_THAT(client->ReadPacket().value_or(Fields{}),
                ElementsAre(Pair("id", "42-abc-1"), Pair("result", "ok")));
    const Json frame = mux_->WaitEvent("frame");
    EXPECT_EQ(frame["client"], 1);
    EXPECT_EQ(frame["command"], "call_hold");
    EXPECT_EQ(frame["id"], "42-abc-1");
    EXPECT_EQ(frame["length"], sent.size());
    EXPECT_EQ(frame["fields"].dump(),
              R"({"id":"42-abc-1","profile":"1234","password":"***","command":"call_hold","call_id":"c:7"})");
    const Json answer = mux_->WaitEvent("sent", {{"kind", "answer"}});
    EXPECT_EQ(answer["fields"].dump(), R"({"id":"42-abc-1","result":"ok"})");

    mux_->Send("result place_call unauthorized_number");
    mux_->Send("result call_hold failure once");
    mux_->Send("result heartbeat -");  // heartbeats go unanswered
    mux_->Send("clients");
    mux_->WaitEvent("clients");
    EXPECT_EQ(FieldValue(Request(*client, "call_hold", "1"), "result"), "failure");
    EXPECT_EQ(FieldValue(Request(*client, "call_hold", "2"), "result"), "ok");
    EXPECT_EQ(FieldValue(Request(*client, "place_call", "3"), "result"), "unauthorized_number");
    client->SendPacket({{"id", "4"}, {"command", "heartbeat"}});
    EXPECT_EQ(FieldValue(Request(*client, "place_call", "5"), "id"), "5");  // not an answer to 4
    mux_->Send("result place_call auto");
    mux_->Send("clients");
    mux_->WaitEvent("clients");
    EXPECT_EQ(FieldValue(Request(*client, "place_call", "6"), "result"), "ok");
    EXPECT_EQ(FieldValue(Request(*client, "call_intercept", "7"), "result"), "ok");
}

TEST_F(MuxsimTest, QuitIsNotAnsweredAndClosesTheClient) {
    Start();
    auto client = Connect(1);
    client->SendPacket({{"id", "q1"}, {"command", "quit"}});
    EXPECT_EQ(client->ReadToEnd(), "");
    EXPECT_EQ(client->last_end(), ReadEnd::kCloseNotify);
    mux_->WaitEvent("closed", {{"client", 1}, {"why", "client sent quit"}});
}

TEST_F(MuxsimTest, NoticesCarryIdProfileAndTheGivenFieldsInOrder) {
    Start();
    auto client = Connect(1);
    Request(*client, "hello", "h", "4711", "1");

    mux_->Send(R"(activity state=ringing note=two\swords\nline\\x empty= id=mine)");
    auto notice = client->ReadPacket();
    ASSERT_TRUE(notice);
    EXPECT_THAT(*notice, ElementsAre(Pair("id", "mine"), Pair("command", "activity"),
                                     Pair("profile", "4711"), Pair("state", "ringing"),
                                     Pair("note", "two words\nline\\x"), Pair("empty", "")));

    for (const std::string command : {"subscriber_activity", "presence_monitor_status", "receive_im"}) {
        mux_->Send(command + " a=1");
        notice = client->ReadPacket();
        ASSERT_TRUE(notice);
        EXPECT_EQ(FieldValue(*notice, "command"), command);
        EXPECT_THAT(FieldValue(*notice, "id").value_or(""), HasSubstr("mux-"));
        EXPECT_EQ(FieldValue(*notice, "a"), "1");
    }

    mux_->Send("rejection too_many_clients");
    notice = client->ReadPacket();
    ASSERT_TRUE(notice);
    EXPECT_EQ(FieldValue(*notice, "command"), "rejection");
    EXPECT_EQ(FieldValue(*notice, "reason"), "too_many_clients");
    mux_->Send("rejection -");
    notice = client->ReadPacket();
    ASSERT_TRUE(notice);
    EXPECT_EQ(FieldValue(*notice, "command"), "rejection");
    EXPECT_EQ(FieldValue(*notice, "reason"), std::nullopt);

    mux_->Send(R"(send id:9\ncommand:receive_im\nmessage:a b)");
    EXPECT_EQ(client->ReadExactly(9 + 35), "00000035\nid:9\ncommand:receive_im\nmessage:a b");

    mux_->Send("activity novalue");  // malformed: error, nothing sent
    mux_->WaitEvent("error", {{"command", "activity"}});
}

TEST_F(MuxsimTest, CloseSendsTlsCloseAndAbortResets) {
    Start();
    auto first = Connect(1);
    auto second = Connect(2);
    mux_->Send("@1 close");
    EXPECT_EQ(first->ReadToEnd(), "");
    EXPECT_EQ(first->last_end(), ReadEnd::kCloseNotify);
    mux_->WaitEvent("closed", {{"client", 1}, {"why", "closed by command"}});

    mux_->Send("abort");
    EXPECT_EQ(second->ReadToEnd(), "");
    EXPECT_NE(second->last_end(), ReadEnd::kCloseNotify);
    EXPECT_NE(second->last_end(), ReadEnd::kTimeout);
    mux_->WaitEvent("closed", {{"client", 2}, {"why", "aborted by command"}});
}

TEST_F(MuxsimTest, BrokenFramesOnCommand) {
    Start();
    auto client = Connect(1);
    mux_->Send("bad-prefix");
    EXPECT_EQ(client->ReadExactly(26), "12345x78\ncommand:activity\n");
    EXPECT_FALSE(vantiro::ParseFramePrefix("12345x78\n"));

    mux_->Send("garbage");
    const std::string garbage = client->ReadExactly(29);
    ASSERT_EQ(garbage.size(), 29u);
    EXPECT_FALSE(vantiro::ParseFramePrefix(garbage.substr(0, 9)));
    EXPECT_EQ(mux_->WaitEvent("sent", {{"kind", "garbage"}})["length"], 29);

    mux_->Send("close-mid-frame");
    const std::string rest = client->ReadToEnd();
    EXPECT_EQ(client->last_end(), ReadEnd::kCloseNotify);
    ASSERT_GE(rest.size(), 9u);
    const auto announced = vantiro::ParseFramePrefix(rest.substr(0, 9));
    ASSERT_TRUE(announced);
    EXPECT_LT(rest.size() - 9, *announced);
    mux_->WaitEvent("fault", {{"client", 1}, {"fault", "close-mid-frame"}});
    mux_->WaitEvent("closed", {{"client", 1}});
}

TEST_F(MuxsimTest, SilentKeepsReadingButAnswersNothing) {
    Start();
    auto client = Connect(1);
    mux_->Send("silent on");
    mux_->WaitEvent("fault", {{"fault", "silent"}, {"on", true}});
    client->SendPacket({{"id", "unanswered"}, {"command", "heartbeat"}});
    mux_->WaitEvent("frame", {{"id", "unanswered"}});
    mux_->Send("silent off");
    mux_->WaitEvent("fault", {{"fault", "silent"}, {"on", false}});
    EXPECT_EQ(FieldValue(Request(*client, "heartbeat", "answered"), "id"), "answered");
}

TEST_F(MuxsimTest, DelayedAnswersKeepTheirOrder) {
    Start();
    auto client = Connect(1);
    mux_->Send("delay 300");
    mux_->WaitEvent("fault", {{"fault", "delay"}, {"ms", 300}});
    const auto start = std::chrono::steady_clock::now();
    for (const char* id : {"d1", "d2", "d3"}) client->SendPacket({{"id", id}, {"command", "heartbeat"}});
    mux_->WaitEvent("frame", {{"id", "d3"}});
    mux_->Send("delay 0");  // a shorter delay must not let later answers overtake
    mux_->WaitEvent("fault", {{"fault", "delay"}, {"ms", 0}});
    client->SendPacket({{"id", "d4"}, {"command", "heartbeat"}});
    std::vector<std::string> ids;
    for (int i = 0; i < 4; ++i) ids.push_back(FieldValue(client->ReadPacket().value_or(Fields{}), "id").value_or("?"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_THAT(ids, ElementsAre("d1", "d2", "d3", "d4"));
}

TEST_F(MuxsimTest, StopReadingMakesTheClientsWritesBackUp) {
    Start();
    auto client = Connect(1);
    mux_->Send("stop-reading on");
    mux_->WaitEvent("fault", {{"fault", "stop-reading"}, {"on", true}});

    const std::string frame = vantiro::EncodeFrame("command:heartbeat\npad:" + std::string(16384, 'x') + "\n");
    int frames = 0;
    std::size_t done = 0;  // of the current frame
    bool blocked = false;
    while (!blocked && frames < 4096) {  // 64 MiB would mean nothing backs up
        const int n = client->WriteSome(frame.data() + done, frame.size() - done);
        ASSERT_GE(n, 0);
        blocked = n == 0;
        done += static_cast<std::size_t>(n);
        if (done == frame.size()) {
            ++frames;
            done = 0;
        }
    }
    ASSERT_TRUE(blocked);

    mux_->Send("stop-reading off");
    // Finish the interrupted write: the same arguments again, now that muxsim reads.
    client->SendBytes(frame.substr(done));
    ++frames;
    for (int i = 0; i < frames; ++i) ASSERT_TRUE(client->ReadPacket()) << "answer " << i;
    EXPECT_GT(frames, 1);
}

TEST_F(MuxsimTest, CommandsGoToTheNewestClientOrTheNamedOne) {
    Start();
    auto first = Connect(1);
    auto second = Connect(2);
    mux_->Send("activity to=newest");
    mux_->Send("@1 activity to=first");
    EXPECT_EQ(FieldValue(second->ReadPacket().value_or(Fields{}), "to"), "newest");
    EXPECT_EQ(FieldValue(first->ReadPacket().value_or(Fields{}), "to"), "first");

    mux_->Send("@3 activity a=1");
    EXPECT_EQ(mux_->WaitEvent("error", {{"command", "activity"}})["message"], "no client 3");
    mux_->Send("@2 close");
    mux_->WaitEvent("closed", {{"client", 2}});
    mux_->Send("@2 activity a=1");
    EXPECT_EQ(mux_->WaitEvent("error", {{"command", "activity"}})["message"], "client 2 is closed");
    mux_->Send("activity to=remaining");  // client 1 is the newest still open
    EXPECT_EQ(FieldValue(first->ReadPacket().value_or(Fields{}), "to"), "remaining");

    mux_->Send("clients");
    const Json clients = mux_->WaitEvent("clients")["clients"];
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0]["state"], "open");
    EXPECT_EQ(clients[1]["state"], "closed");
}

TEST_F(MuxsimTest, BadInputFromAClientClosesOnlyThatClient) {
    Start({"--max-frame", "1000"});
    auto good = Connect(1);

    auto garbage = Connect(2);
    garbage->SendBytes("GET / HTTP/1.1\r\n\r\n");
    const Json error = mux_->WaitEvent("error", {{"client", 2}});
    EXPECT_EQ(error["message"], "bad frame prefix");
    EXPECT_EQ(error["bytes"], "GET / HTTP/1.1\\r\\n");
    mux_->WaitEvent("closed", {{"client", 2}, {"why", "bad frame from the client"}});
    garbage->ReadToEnd();
    EXPECT_EQ(garbage->last_end(), ReadEnd::kCloseNotify);

    // A frame after a good one is still told apart.
    auto huge = Connect(3);
    huge->SendBytes(vantiro::EncodeFrame("command:heartbeat\n") + "99999999\nabc");
    EXPECT_TRUE(huge->ReadPacket());
    EXPECT_THAT(mux_->WaitEvent("error", {{"client", 3}})["message"].get<std::string>(),
                HasSubstr("frame length 99999999 is above the limit of 1000"));
    mux_->WaitEvent("closed", {{"client", 3}});

    auto vanishing = Connect(4);
    vanishing->SendBytes("00000050\ncommand:");
    // Read what the server sent after the handshake, so that dropping the connection
    // sends an orderly TCP close rather than a reset.
    EXPECT_FALSE(vanishing->ReadPacket(std::chrono::milliseconds(200)));
    vanishing->DropTcp();
    EXPECT_THAT(mux_->WaitEvent("closed", {{"client", 4}})["why"].get<std::string>(),
                HasSubstr("inside a frame"));

    // A client that goes away during the handshake.
    const int raw = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(mux_->port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(raw, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(write(raw, "\x16\x03\x01\x00", 4), 4);
    close(raw);
    EXPECT_THAT(mux_->WaitEvent("closed", {{"client", 5}})["why"].get<std::string>(),
                HasSubstr("TLS handshake failed"));

    EXPECT_EQ(FieldValue(Request(*good, "heartbeat", "still-here"), "id"), "still-here");
}

TEST_F(MuxsimTest, WaitFrameHoldsCommandsUntilTheFrameArrives) {
    Start();
    auto client = Connect(1);
    mux_->Send("wait-frame heartbeat 10000");
    mux_->Send("activity after=heartbeat");
    // Held back: nothing comes while no heartbeat has been sent.
    EXPECT_FALSE(client->ReadPacket(std::chrono::milliseconds(300)));
    EXPECT_EQ(client->last_end(), ReadEnd::kTimeout);
    client->SendPacket({{"id", "hb"}, {"command", "heartbeat"}});
    EXPECT_EQ(FieldValue(client->ReadPacket().value_or(Fields{}), "id"), "hb");
    EXPECT_EQ(FieldValue(client->ReadPacket().value_or(Fields{}), "after"), "heartbeat");

    // The heartbeat was used up by the first wait: this one times out and goes on.
    mux_->Send("wait-frame heartbeat 100");
    mux_->Send("clients");
    const Json timeout = mux_->WaitEvent("error", {{"message", "wait-frame timed out"}});
    EXPECT_EQ(timeout["command"], "heartbeat");
    mux_->WaitEvent("clients");
}

TEST_F(MuxsimTest, QuitAndEndOfInputExitCleanly) {
    Start();
    auto client = Connect(1);
    mux_->Send("quit");
    EXPECT_EQ(client->ReadToEnd(), "");
    EXPECT_EQ(client->last_end(), ReadEnd::kCloseNotify);
    mux_->WaitEvent("closed", {{"client", 1}, {"why", "server quits"}});
    EXPECT_EQ(mux_->WaitEvent("exit")["code"], 0);
    EXPECT_EQ(mux_->WaitExit(), 0);

    TempDir other;
    auto second = MuxsimProcess::Listening(other.Path());
    second->CloseInput();
    EXPECT_EQ(second->WaitEvent("exit")["code"], 0);
    EXPECT_EQ(second->WaitExit(), 0);
}

TEST_F(MuxsimTest, ScriptRunsFirstAndBadLinesGoOn) {
    const std::string script = dir_.File("script.txt");
    std::ofstream(script) << "# comment\n\nprofile 1 2\nnonsense here\nlogin\n";
    Start({"--script", script});
    auto client = Connect(1);
    EXPECT_EQ(FieldValue(Request(*client, "hello", "s1", "1", "2"), "result"), "ok");
    EXPECT_EQ(FieldValue(Request(*client, "hello", "s2", "1234", "5678"), "result"), "password_invalid");
    const auto events = mux_->Events();
    int errors = 0;
    for (const Json& e : events) errors += e.value("event", "") == "error";
    EXPECT_EQ(errors, 2);  // the unknown command and the login without a result
}

TEST(MuxsimCommandLine, BadOptionsAreAnErrorEventAndStatusTwo) {
    MuxsimProcess mux({"--port", "not-a-number", "--make-certs", "/nonexistent-dir"});
    EXPECT_THAT(mux.WaitEvent("error")["message"].get<std::string>(), HasSubstr("bad command line"));
    EXPECT_EQ(mux.WaitExit(), 2);
}

TEST_F(MuxsimTest, ForeignSignedCertificateFailsVerificationAgainstTheCa) {
    Start({"--foreign"});
    TlsTestClient client;
    EXPECT_FALSE(client.Connect(mux_->port(), certs() / "ca.pem"));
    EXPECT_NE(client.verify_result(), X509_V_OK);
    EXPECT_THAT(mux_->WaitEvent("closed", {{"client", 1}})["why"].get<std::string>(),
                HasSubstr("TLS handshake failed"));

    TlsTestClient trusting;
    EXPECT_TRUE(trusting.Connect(mux_->port(), certs() / "foreign-ca.pem")) << trusting.error();
    mux_->WaitEvent("connected", {{"client", 2}});
}

}  // namespace
}  // namespace muxsim_test
