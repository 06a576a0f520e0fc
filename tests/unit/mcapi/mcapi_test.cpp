// MessageCenterAPI against a loopback mailbox server that records each request and
// answers as the case says: with a frame, with raw bytes, not at all, or by closing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>

#include "frame.h"
#include "mcapi.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/time_scale.h"
#include "testsupport/files.h"
#include "testsupport/frame_peer.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wait.h"

namespace {

using testsupport::ReceivedFrame;
using Names = std::vector<std::string>;
using Entries = std::map<std::string, std::string>;

enum class Reply { Frame, Raw, Silence, Close };

// Reads one request frame per connection, records it, answers, then counts the
// client ending the connection.
class MailboxPeer : public testsupport::LoopbackTlsServer {
 public:
  MailboxPeer(const testsupport::TestPki& pki, Reply reply, std::string bytes = {})
      : LoopbackTlsServer(pki), reply_(reply), bytes_(std::move(bytes)) { Start(); }
  ~MailboxPeer() override { Stop(); }

  std::vector<ReceivedFrame> Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }
  int ClientClosed() const { return clientClosed_; }

 private:
  // False once the client has ended the connection (or the server stops).
  bool ReadSome(SSL* ssl, const std::function<bool()>& held, vantiro::FrameDecoder& decoder) {
    char buffer[4096];
    const int got = SSL_read(ssl, buffer, sizeof buffer);
    if (got > 0) decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    if (got <= 0 && SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ) ++clientClosed_;
    return held() && (got > 0 || SSL_get_error(ssl, got) == SSL_ERROR_WANT_READ);
  }

  void Serve(SSL* ssl, int index, const std::function<bool()>& held) override {
    vantiro::FrameDecoder decoder;
    std::optional<std::string> text;
    while (!(text = decoder.Pop()) && ReadSome(ssl, held, decoder)) {}
    if (!text || reply_ == Reply::Close) return;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      requests_.push_back({index, *text, testsupport::ParseFields(*text), 0});
    }
    const std::string out = reply_ == Reply::Frame ? vantiro::EncodeFrame(bytes_)
                            : reply_ == Reply::Raw ? bytes_ : std::string();
    if (!out.empty()) SSL_write(ssl, out.data(), static_cast<int>(out.size()));
    while (ReadSome(ssl, held, decoder)) {}
  }

  const Reply reply_;
  const std::string bytes_;
  mutable std::mutex mutex_;
  std::vector<ReceivedFrame> requests_;  // under mutex_
  std::atomic<int> clientClosed_{0};
};

struct Table {
  HASHTABLE* t = HT_create(8, 0);
  ~Table() { HT_destroy(t); }
  Entries Strings() const {
    Entries entries;
    for (const char** key = HT_keys(t, nullptr); *key != nullptr; ++key)
      if (const char* value = HT_get_str(t, *key)) entries[*key] = value;
    return entries;
  }
};

class McapiTest : public testsupport::TempRegistryTest {
 protected:
  void SetUp() override {
    TempRegistryTest::SetUp();
    pki_.emplace(dir_.string(), "mailbox", "Mailbox CA");
    SetCaValue("C:" + qmos::ToWindowsPath(pki_->caFile));
  }

  // nullopt removes the value.
  static void SetCaValue(const std::optional<std::string>& value) {
    auto key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer\\Settings", true);
    ASSERT_TRUE(key);
    if (!value) key->DeleteValue("CACertificate");
    EXPECT_TRUE(!value || key->WriteString("CACertificate", *value));
  }

  // Ports the system picks lie above 32767: they reach the library as negative numbers.
  static MessageCenterAPI Client(std::uint16_t port) {
    return MessageCenterAPI("127.0.0.1", static_cast<std::int16_t>(port), "alice", "s3cret");
  }

  std::optional<testsupport::TestPki> pki_;
};

TEST_F(McapiTest, GetPreferencesTakesOnlyAValidAnswerWithinTheBoundAndClosesTheConnection) {
  const Entries untouched{{"keep", "old"}};
  const struct {
    const char* name;
    Reply reply;
    std::string bytes;
    int expected;
    Entries table;  // afterwards
  } cases[] = {
      {"ok", Reply::Frame, "result:ok\npref.expiry:2031-01-02\npref.url:https://h:8443/x\nnote:n\npref.:x\n", 0,
       {{"keep", "old"}, {"expiry", "2031-01-02"}, {"url", "https://h:8443/x"}}},
      {"refused", Reply::Frame, "result:password_invalid\npref.expiry:1\n", -2, untouched},
      {"no result", Reply::Frame, "pref.expiry:1\n", -2, untouched},
      {"silence", Reply::Silence, "", -1, untouched},
      {"closed", Reply::Close, "", -1, untouched},
      {"bad prefix", Reply::Raw, "result:ok\n", -1, untouched},
      {"too long", Reply::Raw, "01048577\nresult:ok\n", -1, untouched},
      {"cut short", Reply::Raw, "00000050\nresult:ok\n", -1, untouched},
      {"NUL inside", Reply::Frame, std::string("result:ok\n\0pref.a:1\n", 20), -1, untouched},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MailboxPeer peer(*pki_, c.reply, c.bytes);
    Table table;
    HT_put_str(table.t, "keep", "old");
    MessageCenterAPI api = Client(peer.Port());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(api.getPreferences(table.t), c.expected);
    EXPECT_LT(testsupport::ElapsedMs(start), qmos::ScaledMs(10000) + 3000);
    EXPECT_EQ(table.Strings(), c.table);
    if (c.reply != Reply::Close) {
      ASSERT_EQ(peer.Requests().size(), 1u);
      const ReceivedFrame request = peer.Requests()[0];
      EXPECT_EQ(request.Names(), (Names{"command", "profile", "password"}));
      EXPECT_EQ(request.Value("command") + request.Value("profile") + request.Value("password"),
                "get_preferencesalices3cret");
      // One request per connection: the client ends it, answered or not.
      EXPECT_TRUE(testsupport::WaitUntil([&] { return peer.ClientClosed() == 1; }));
    }
    api.disconnect();
    api.disconnect();
    EXPECT_EQ(peer.Connections(), 1);
  }
}

TEST_F(McapiTest, PutPreferencesSendsTheCurrentPasswordAndEveryStringEntry) {
  const struct {
    Reply reply;
    std::string answer;
    int expected;
  } cases[] = {{Reply::Frame, "result:ok\n", 0}, {Reply::Frame, "result:too_short\n", 1}, {Reply::Silence, "", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    MailboxPeer peer(*pki_, c.reply, c.answer);
    Table table;
    HT_put_str(table.t, "password", "n3w\npass");
    HT_put_str(table.t, "expiry", "");
    HT_put_binary(table.t, "record", "\x01\x02", 2);  // not a preference
    EXPECT_EQ(Client(peer.Port()).putPreferences(table.t), c.expected);
    ASSERT_EQ(peer.Requests().size(), 1u);
    const ReceivedFrame request = peer.Requests()[0];
    const Names names = request.Names();
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(Names(names.begin(), names.begin() + 3), (Names{"command", "profile", "password"}));
    EXPECT_EQ(request.Value("command"), "put_preferences");
    EXPECT_EQ(request.Value("password"), "s3cret");
    EXPECT_EQ(request.Value("pref.password"), "n3w\npass");
    EXPECT_EQ(request.Value("pref.expiry"), "");
  }
}

TEST_F(McapiTest, CallsThatCannotBeMadeFailWithoutConnecting) {
  MailboxPeer peer(*pki_, Reply::Frame, "result:ok\n");
  MessageCenterAPI api = Client(peer.Port());
  Table colon;
  HT_put_str(colon.t, "a:b", "1");  // cannot be carried as a field name
  EXPECT_EQ(api.getPreferences(nullptr), -1);
  EXPECT_EQ(api.putPreferences(nullptr), -1);
  EXPECT_EQ(api.putPreferences(colon.t), -1);
  EXPECT_EQ(MessageCenterAPI("no-such-host.invalid", 1, "alice", "s3cret").getPreferences(colon.t), -1);
  EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(McapiTest, TheRegistryDecidesWhichServersAreTrusted) {
  const testsupport::TestPki foreign(dir_.string(), "foreign", "Foreign CA");
  const struct {
    const char* name;
    const testsupport::TestPki& server;
    std::optional<std::string> caValue;
    std::string registryText;  // when set, replaces the registry file
    int expected;
    bool connects;
  } cases[] = {
      {"another issuer", foreign, "C:" + qmos::ToWindowsPath(pki_->caFile), "", -1, true},
      {"no value", foreign, std::nullopt, "", 0, true},
      {"empty value", foreign, "", "", 0, true},
      {"missing file", *pki_, "C:\\nowhere\\ca.pem", "", -1, false},
      {"damaged registry", *pki_, "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\n\"x\"=broken\n", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetCaValue(c.caValue);
    if (!c.registryText.empty()) testsupport::WriteFile(PathOf("registry.reg"), c.registryText);
    MailboxPeer peer(c.server, Reply::Frame, "result:ok\n");
    Table table;
    EXPECT_EQ(Client(peer.Port()).getPreferences(table.t), c.expected);
    EXPECT_EQ(peer.Connections() > 0, c.connects);
    // Nothing reaches a server that is not trusted.
    EXPECT_EQ(peer.Requests().size(), c.expected == 0 ? 1u : 0u);
    std::remove(PathOf("registry.reg").c_str());
  }
}

}  // namespace
