// The supervisor against a fake host and loopback TLS peers, with every wait scaled
// down (15 s lookup waits become 150 ms).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "tls/tls_connection.h"
#include "qmos/clock.h"
#include "supervisor_fixture.h"

namespace connection_test {
namespace {

const std::string kLookup = "service_name:multiplexor\nforced:1\n";
const std::string kAbort = "reason:abort\n";
const std::string kEmpty;

TEST_F(SupervisorTest, LooksUpAgainWhileUnansweredAndEndsOnTerminate) {
  Start();
  EXPECT_FALSE(vantiro::State().LoginAuthenticated);
  EXPECT_TRUE(vantiro::State().SomethingToWriteEvent());
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("service_lookup_request", &kLookup) >= 3; }));
  const std::string tid = std::to_string(thread_->ThreadID());
  EXPECT_TRUE(Traced("Thread ID = " + tid +
                     " : PluginThread::Execute(): We timed out waiting for a signal, time to loop"));

  EXPECT_GE(TerminateLikePlugin(), 0);
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
  EXPECT_TRUE(Traced("Thread ID = " + tid +
                     " : PluginThread::Execute(): We were terminated, but after we'd timed out waiting "
                     "for a signal"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Starting thread termination"));
  // Ending while the plug-in terminates: no closing line, the reference is cleared.
  EXPECT_FALSE(Traced("thread exiting"));
  EXPECT_TRUE(WaitUntil([] { return vantiro::State().GetPluginThread() == nullptr; }));
  EXPECT_FALSE(Traced("About to connect"));
}

TEST_F(SupervisorTest, ConnectsWithTheCaFileAndRetriesAfterADrop) {
  TestPki pki(dir_, "good", "Test CA");
  TlsTestServer server(pki);
  SetCaFile(pki.caFile);
  AnswerLookups("127.0.0.1", server.Port());
  Start();
  ASSERT_TRUE(WaitUntil([&] { return thread_->connected() && server.Handshakes() == 1; }));
  EXPECT_TRUE(Traced("PluginThread::GetCACertificate(): caCertificate=[C:" + qmos::ToWindowsPath(pki.caFile) + "]"));
  EXPECT_TRUE(Traced("PluginThread::initialize_ctx(): SSL_CTX_load_verify_locations() returned successfully"));
  EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): After calling inet_addr(127.0.0.1)"));
  EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): Connected OK"));
  EXPECT_EQ(thread_->lastConnectResult(), 0);
  ASSERT_TRUE(thread_->Connection());

  // A retry takes the connection down at once, pauses and connects anew; the TLS
  // library is initialised once for this supervisor all the same.
  vantiro::State().LoginAuthenticated = true;
  thread_->RetryConnection();
  EXPECT_FALSE(vantiro::State().LoginAuthenticated);
  EXPECT_FALSE(thread_->Connection());
  EXPECT_TRUE(WaitUntil([&] { return server.PeerClosed() == 1; }));
  ASSERT_TRUE(WaitUntil([&] { return server.Handshakes() == 2 && thread_->connected(); }));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Terminated=0 connected=0 retryConnection=1"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): The connection is down.  Will reestablish"));
  EXPECT_EQ(vantiro::tls::LibraryInitCount(), 1);

  // An abort outside the plug-in's shutdown: no retry, the connection is closed
  // and the closing line written.
  thread_->AbortConnection();
  thread_->RetryConnection();
  EXPECT_TRUE(Traced("PluginThread::RetryConnection(): The thread is aborting, so ignoring retry"));
  EXPECT_FALSE(thread_->retryConnection());
  ASSERT_TRUE(thread_->WaitFor(20000));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Disconnected from the multiplexor, thread exiting"));
  EXPECT_TRUE(WaitUntil([&] { return server.PeerClosed() == 2; }));
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
}

TEST_F(SupervisorTest, WithoutACaFileAnyServerIsAcceptedAndANameIsResolved) {
  TestPki pki(dir_, "any", "Some CA");
  TlsTestServer server(pki);
  AnswerLookups("localhost  ", server.Port());
  Start();
  ASSERT_TRUE(WaitForTrace("PluginThread::ConnectToMultiplexor(): Connected OK"));
  EXPECT_TRUE(Traced("PluginThread::GetCACertificate(): caCertificate=[]"));
  EXPECT_TRUE(Traced("PluginThread::initialize_ctx(): SSL initialization failure - Trust file [] not available!"));
  EXPECT_TRUE(Traced("PluginThread::initialize_ctx(): Skipping verification callback"));
  EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): After calling gethostbyname(localhost)\n"));
  // Reading the trust setting created nothing in the registry.
  EXPECT_FALSE(qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer\\Settings").has_value());

  // Terminating while connected ends at once and leaves the socket to the last holder.
  EXPECT_GE(TerminateLikePlugin(), 0);
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
}

TEST_F(SupervisorTest, AServerOfAnotherCaIsRefusedAndTheRetryWaitsForThePause) {
  TestPki trusted(dir_, "trusted", "Trusted CA");
  TestPki foreign(dir_, "foreign", "Foreign CA");
  TlsTestServer server(foreign);
  SetCaFile(trusted.caFile);
  AnswerAndRecordLookups("127.0.0.1", server.Port());
  Start();
  ASSERT_TRUE(WaitUntil([&] { return Lookups().size() >= 2; }));
  EXPECT_TRUE(Traced("verify_callback(): SSL handshake problem with certificate from [/CN=Foreign CA]"));
  EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): SSL connection failed SSL Error = "));
  EXPECT_TRUE(Traced("certificate verify failed"));
  // The pause below shows the attempt ended with lastConnectResult -1; the value itself
  // may already belong to the next attempt's connect by now.
  EXPECT_FALSE(thread_->connected());
  const std::vector<std::int64_t> lookups = Lookups();
  EXPECT_GE(lookups[1] - lookups[0], qmos::ScaledMs(9000));  // the pause lies between
  EXPECT_EQ(vantiro::tls::LibraryInitCount(), 1);
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(SupervisorTest, ANameStartingWithABlankFailsAtConnect) {
  SilentListener listener;  // a port where nothing would answer a handshake
  AnswerLookups(" localhost", listener.Port());
  Start();
  ASSERT_TRUE(WaitForTrace("PluginThread::ConnectToMultiplexor(): connect() failed, LastError = "));
  EXPECT_TRUE(Traced("PluginThread::ConnectToMultiplexor(): After calling inet_addr( localhost)"));
  EXPECT_EQ(thread_->lastConnectResult(), -1);
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(SupervisorTest, AHandshakeThatNeverCompletesTimesOut) {
  SilentListener listener;
  AnswerLookups("127.0.0.1", listener.Port());
  Start();
  ASSERT_TRUE(WaitForTrace("PluginThread::ConnectToMultiplexor(): SSL connection Error String = the handshake timed out")) << TraceText();
  EXPECT_EQ(thread_->lastConnectResult(), -1);
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(SupervisorTest, ConnectionDownPublishesLoggedOutOnceAndNothingOnceTerminated) {
  Start();
  thread_->multiplexorConnectionDown(1);
  EXPECT_EQ(host_.Count("mc_logged_out", &kEmpty), 1);
  EXPECT_TRUE(Traced("PluginThread::multiplexorConnectionDown(): Connection down"));
  thread_->Terminate();
  thread_->multiplexorConnectionDown(2);
  EXPECT_EQ(host_.Count("mc_logged_out"), 1);
}

TEST_F(SupervisorTest, ADropFoundByBothWorkersIsReportedOnce) {
  Start();
  thread_->WorkerFoundConnectionDown(1);  // the reader
  thread_->WorkerFoundConnectionDown(2);  // the writer, at the same moment
  EXPECT_EQ(host_.Count("mc_logged_out", &kEmpty), 1);
  EXPECT_TRUE(Traced("PluginThread::multiplexorConnectionDown(): Drop already reported"));
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(SupervisorTest, HostAccessConvertsTextsAndReadsFailuresAsEmpty) {
  vantiro::PluginThread supervisor(&host_);  // never started
  host_.SetData("mc_profile", "4711 \xC3\xA9");
  EXPECT_EQ(supervisor.GetHostData("mc_profile"), "4711 \xC3\xA9");
  EXPECT_EQ(supervisor.GetHostData("missing"), "");  // the host's stale answer is freed, not used
  EXPECT_EQ(supervisor.PutHostData("caption", "Q \xE2\x82\xAC"), qmos::S_FALSE);
  EXPECT_EQ(host_.Data("caption"), "Q \xE2\x82\xAC");
  supervisor.PublishToHost("receive_im", "message:h\xC3\xA9llo\n");
  EXPECT_EQ(host_.Publications().back(), (testsupport::Publication{"receive_im", "message:h\xC3\xA9llo\n"}));
}

// Attempts that fail before any TLS handshake: every one is followed by the pause
// (no busy retry), writes a few trace lines, and never ends in an unverified
// connection when a CA is configured.
struct FailedAttempt {
  const char* name;
  const char* address;     // what the lookup answers
  const char* caFile;      // "" for none; "garbage" for a file that holds no certificate
  bool damageRegistry;     // the registry file cannot be parsed
  const char* trace;       // the line that says why
};

void PrintTo(const FailedAttempt& attempt, std::ostream* out) { *out << attempt.name; }

class FailedAttemptTest : public SupervisorTest, public ::testing::WithParamInterface<FailedAttempt> {};

TEST_P(FailedAttemptTest, PausesBeforeTheNextAttemptAndNeverConnectsUnverified) {
  const FailedAttempt& c = GetParam();
  TestPki foreign(dir_, "foreign", "Foreign CA");
  TlsTestServer server(foreign);
  if (std::string(c.caFile) == "garbage") {
    testsupport::WriteFile(dir_ + "/garbage.pem", "not a certificate\n");
    SetCaFile(dir_ + "/garbage.pem");
  } else if (*c.caFile != '\0') {
    SetCaFile(dir_ + "/" + c.caFile);
  }
  if (c.damageRegistry) testsupport::WriteFile(dir_ + "/registry.reg", "Windows Registry Editor Version 5.00\n[oops\n");
  AnswerAndRecordLookups(c.address, server.Port());
  Start();
  ASSERT_TRUE(WaitUntil([&] { return Lookups().size() >= 4; })) << c.name;
  EXPECT_GE(TerminateLikePlugin(), 0);
  EXPECT_TRUE(Traced(c.trace)) << c.name;
  EXPECT_EQ(server.Handshakes(), 0) << c.name;
  const std::vector<std::int64_t> lookups = Lookups();
  for (std::size_t i = 1; i < lookups.size(); ++i) {
    EXPECT_GE(lookups[i] - lookups[i - 1], qmos::ScaledMs(9000)) << c.name << " attempt " << i;
  }
  const std::string text = TraceText();
  const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  EXPECT_LE(lines, 12 * lookups.size()) << c.name;
}

// A label longer than 63 characters fails in the resolver itself, before any query
// leaves the machine.
const std::string kUnresolvable = std::string(70, 'a') + ".example";

INSTANTIATE_TEST_SUITE_P(
    Supervisor, FailedAttemptTest,
    ::testing::Values(
        FailedAttempt{"unresolvable name", kUnresolvable.c_str(), "", false,
                      "PluginThread::ConnectToMultiplexor(): gethostbyname() failed, h_errno=["},
        FailedAttempt{"missing CA file", "127.0.0.1", "missing.pem", false,
                      "The trust file cannot be used ("},
        FailedAttempt{"CA file without a certificate", "127.0.0.1", "garbage", false,
                      "The trust file cannot be used ("},
        FailedAttempt{"damaged registry", "127.0.0.1", "", true,
                      "PluginThread::ConnectToMultiplexor(): The settings cannot be read, so the server "
                      "cannot be verified: not connecting"}),
    [](const ::testing::TestParamInfo<FailedAttempt>& info) {
      std::string name;
      for (const char* p = info.param.name; *p != '\0'; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
}  // namespace connection_test
