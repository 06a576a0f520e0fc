// The reader over a real loopback TLS connection whose server end the test drives,
// with a fake host and a presenter that records message boxes and captions. The test
// thread is the main thread: notices and captions happen only while it pumps.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "connection/ReadThread.h"
#include "connection/WriteThread.h"
#include "connection/sent_packets.h"
#include "connection/failure_notices.h"
#include "connection/validating_caption.h"
#include "frame.h"
#include "qmos/application.h"
#include "supervisor_fixture.h"
#include "testsupport/tls_client.h"
#include "writer_fixture.h"

namespace connection_test {
namespace {

using testsupport::TlsPeerPair;
using vantiro::FailureNotice;

const std::string kEmpty;
const std::string kAbort = "reason:abort\n";
const std::string kValidationLookup = "service_name:XXX_MessageCenterAPI\n";

struct Box {
  std::string text, title;
  unsigned flags;
  int loginFailedBefore, abortsBefore;  // failures published and aborts when the box opened
};

class RecordingPresenter : public qmos::Presenter {
 public:
  explicit RecordingPresenter(const FakeHost& host, std::function<int()> aborts)
      : host_(host), aborts_(std::move(aborts)) {}
  int ShowMessageBox(const std::string& text, const std::string& title, unsigned flags) override {
    std::lock_guard<std::mutex> guard(mutex_);
    boxes_.push_back({text, title, flags, host_.Count("mc_login_failed"), aborts_()});
    return qmos::IDOK;
  }
  void CaptionChanged(const std::string& text) override {
    std::lock_guard<std::mutex> guard(mutex_);
    captions_.push_back(text);
  }
  std::vector<Box> Boxes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return boxes_;
  }
  std::vector<std::string> Captions() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return captions_;
  }

 private:
  const FakeHost& host_;
  const std::function<int()> aborts_;
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::vector<std::string> captions_;
};

class ReaderTest : public SupervisorTest {
 protected:
  void SetUp() override {
    SupervisorTest::SetUp();
    app().SetMainThread();
    app().StartServing();
    app().SetPresenter(presenter_);
    supervisor_ = std::make_shared<vantiro::PluginThread>(&host_);  // never started
    vantiro::ProcessState& state = vantiro::State();
    state.SetSentPackets(std::make_shared<vantiro::SentPacketTable>());
    state.LoginAuthenticated = state.MCValidate = state.ValidatingPassword = false;
    vantiro::ResetCaptionDots();
    pki_ = std::make_unique<TestPki>(dir_, "mux", "Mux CA");
    peer_ = std::make_unique<TlsPeerPair>(*pki_);
    ASSERT_TRUE(peer_->Client());
    reader_ = qmos::TThread::StartNew<vantiro::ReadThread>(peer_->Client(), supervisor_);
    ASSERT_TRUE(reader_);
  }

  void TearDown() override {
    if (reader_) {
      reader_->Terminate();
      EXPECT_TRUE(PumpUntil([&] { return reader_->Finished(); }));
      reader_.reset();
      EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
    }
    peer_.reset();
    app().StartServing();
    app().SetPresenter(nullptr);
    vantiro::State().SetSentPackets(nullptr);
    supervisor_.reset();
    SupervisorTest::TearDown();
  }

  static qmos::Application& app() { return qmos::Application::Instance(); }

  // Runs the main thread's queue until pred holds (at most 20 s).
  bool PumpUntil(const std::function<bool()>& pred) {
    return WaitUntil([&] {
      app().ProcessMessages();
      return pred();
    });
  }

  // Records a request as the writer does, and sends the multiplexor's answer to it.
  void Answer(const std::string& id, const std::string& command, const std::string& answer) {
    PACKET sent = PH_create_empty();
    PH_add(sent, "command", command.c_str());
    PH_add(sent, "id", id.c_str());
    vantiro::AddSentPacket(sent);
    PH_destroy(sent);
    ASSERT_TRUE(Recorded(id));
    ASSERT_TRUE(peer_->Send(vantiro::EncodeFrame("id:" + id + "\n" + answer)));
  }
  // Answers and waits until the answer has been handled (its entry is gone).
  void AnswerAndWait(const std::string& id, const std::string& command, const std::string& answer) {
    Answer(id, command, answer);
    ASSERT_TRUE(PumpUntil([&] { return !Recorded(id); })) << command << " " << answer;
  }
  static bool Recorded(const std::string& id) {
    vantiro::SentPacketRecord record;
    return vantiro::LookUpSentPacket(id, record);
  }

  void Send(const std::string& text) { ASSERT_TRUE(peer_->Send(vantiro::EncodeFrame(text))); }

  int TraceCount(const std::string& line) const {
    const std::string text = TraceText();
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    return count;
  }
  bool ReaderEnded() { return PumpUntil([&] { return reader_->Finished(); }); }

  // The supervisor publishes its abort once; every call traces.
  int Aborts() const { return TraceCount("PluginThread::AbortConnection(): At start"); }

  std::shared_ptr<RecordingPresenter> presenter_ =
      std::make_shared<RecordingPresenter>(host_, [this] { return Aborts(); });
  std::shared_ptr<vantiro::PluginThread> supervisor_;
  std::unique_ptr<TestPki> pki_;
  std::unique_ptr<TlsPeerPair> peer_;
  std::shared_ptr<vantiro::ReadThread> reader_;
};

TEST(FailureNotices, HaveTheirExactTitlesTextsAndStyles) {
  const struct {
    const char *title, *text;
    unsigned flags;
  } expected[] = {
      {"Mailbox Locked", "There have been too many failed login attempts and your Rirezer Uduzor mailbox is locked.", 48},
      {"Login Failed", "Failed to log in to Rirezer Uduzor.  This does not necessarily mean that your password is invalid.  Rirezer Uduzor may be unavailable.", 48},
      {"Cannot Authenticate at this time", "Failed to log in to Rirezer Uduzor. This does not necessarily mean that your password is invalid.  Rirezer Uduzor may be unavailable. ", 4112},
      {"Transfer Failed", "The request to transfer the caller could not be delivered to Rirezer Uduzor.", 48},
      {"Callback Failed", "The callback number is not authorized for this site.", 48},
      {"Callback Failed", "The number of the person you are calling is not authorized for this site.", 48},
      {"Transfer Failed", "The transfer number is not authorized for this site.", 48},
      {"Login Failed", "The request to place the caller on hold could not be delivered to Rirezer Uduzor.", 48},
      {"Login Failed", "The request to have the caller leave a voice message could not be delivered to Rirezer Uduzor.", 48},
      {"Login Failed", "The request to play a message to the caller could not be delivered to Rirezer Uduzor.", 48},
      {"Cannot Monitor Subscriber", "The requested subscriber could not be monitored.", 48},
      {"Cannot Stop Monitoring Subscriber", "The request to stop monitoring the susbscriber failed.", 48},
      {"Cannot Stop Monitoring Subscribers", "The request to stop monitoring all susbscribers failed.", 48},
  };
  for (int number = 1; number <= 13; ++number) {
    const vantiro::NoticeText* notice = vantiro::FailureNoticeText(static_cast<FailureNotice>(number));
    ASSERT_NE(notice, nullptr) << number;
    EXPECT_STREQ(notice->title, expected[number - 1].title) << number;
    EXPECT_STREQ(notice->text, expected[number - 1].text) << number;
    EXPECT_EQ(notice->flags, expected[number - 1].flags) << number;
  }
  EXPECT_EQ(vantiro::FailureNoticeText(FailureNotice::None), nullptr);
  EXPECT_EQ(vantiro::FailureNoticeText(static_cast<FailureNotice>(14)), nullptr);
}

TEST_F(ReaderTest, AnswersShowTheirNoticeAndAlwaysForgetTheRequest) {
  const struct {
    const char *command, *answer;
    int notice;
  } rows[] = {
      {"call_intercept", "result:ok\n", 0},
      {"call_intercept", "result:unauthorized_number\n", 7},
      {"call_intercept", "result:failure\n", 4},
      {"call_intercept", "", 4},  // no result matches nothing
      {"place_call", "result:unauthorized_number\n", 6},
      {"place_call", "result:unauthorized_callback_number\n", 5},
      {"place_call", "result:failure\n", 0},
      {"place_call", "result:ok\n", 0},
      {"call_hold", "result:ok\n", 0},
      {"call_hold", "result:failure\n", 8},
      {"call_take_message", "result:failure\n", 9},
      {"call_send_message", "result:OK\n", 10},  // comparisons are case-sensitive
      {"presence_monitor_request", "result:failure\n", 11},
      {"presence_monitor_remove", "result:failure\n", 12},
      {"presence_monitor_remove_all", "result:failure\n", 13},
      {"offline_activity_request", "result:failure\n", 0},
      {"quit", "result:failure\n", 0},
      {"send_im", "result:failure\n", 0},
      {"presence_monitor_query", "result:failure\n", 0},
      {"heartbeat", "result:ok\n", 0},  // no login yet: no lookup either
  };
  int id = 0;
  for (const auto& row : rows) {
    const std::size_t before = presenter_->Boxes().size();
    AnswerAndWait("req-" + std::to_string(++id), row.command, row.answer);
    const std::vector<Box> boxes = presenter_->Boxes();
    if (row.notice == 0) {
      EXPECT_EQ(boxes.size(), before) << row.command << " " << row.answer;
      continue;
    }
    ASSERT_EQ(boxes.size(), before + 1) << row.command << " " << row.answer;
    const vantiro::NoticeText* notice = vantiro::FailureNoticeText(static_cast<FailureNotice>(row.notice));
    EXPECT_EQ(boxes.back().title, notice->title) << row.command;
    EXPECT_EQ(boxes.back().text, notice->text) << row.command;
    EXPECT_EQ(boxes.back().flags, notice->flags) << row.command;
  }
  EXPECT_TRUE(host_.Publications().empty());
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): id=[req-1]"));
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): result=[unauthorized_callback_number]"));
}

TEST_F(ReaderTest, WhileANoticeIsOpenLaterFramesWait) {
  Answer("a", "call_hold", "result:failure\n");
  ASSERT_TRUE(WaitUntil([] { return app().PendingCount() > 0; }));  // the box is up
  Answer("b", "call_hold", "result:ok\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(Recorded("a"));  // removed after the box closes
  EXPECT_TRUE(Recorded("b"));
  ASSERT_TRUE(PumpUntil([] { return !Recorded("b"); }));
  EXPECT_EQ(presenter_->Boxes().size(), 1u);
}

TEST_F(ReaderTest, HeartbeatAnswerAsksForTheMailboxServerOnlyWhileValidationIsDue) {
  vantiro::ProcessState& state = vantiro::State();
  state.LoginAuthenticated = true;
  AnswerAndWait("h1", "heartbeat", "result:ok\n");
  EXPECT_EQ(host_.Count("service_lookup_request", &kValidationLookup), 1);
  state.ValidatingPassword = true;
  AnswerAndWait("h2", "heartbeat", "result:whatever\n");
  state.ValidatingPassword = false;
  state.MCValidate = true;
  AnswerAndWait("h3", "heartbeat", "");
  state.MCValidate = false;
  state.LoginAuthenticated = false;
  AnswerAndWait("h4", "heartbeat", "result:ok\n");
  EXPECT_EQ(host_.Publications().size(), 1u);
}

TEST_F(ReaderTest, AcceptedLoginMarksItAndGrowsTheCaptionDots) {
  host_.SetData("caption", "Client X");
  const std::string base = "Client X - [Now Validating Password";
  AnswerAndWait("l1", "hello", "result:ok\n");
  EXPECT_TRUE(vantiro::State().LoginAuthenticated);
  EXPECT_EQ(app().Caption(), base + "......]");
  AnswerAndWait("l2", "hello", "result:ok\n");
  EXPECT_EQ(app().Caption(), base + ".........]");
  AnswerAndWait("l3", "hello", "result:ok\n");
  EXPECT_EQ(app().Caption(), base + "...]");
  EXPECT_EQ(presenter_->Captions().size(), 3u);
  EXPECT_EQ(TraceCount("ReadThread::ProcessPacket(): QUEUE_LOGGED_IN:LoginAuthenticated=true"), 3);
  EXPECT_TRUE(host_.Publications().empty());
  EXPECT_TRUE(presenter_->Boxes().empty());

  // Validated on an earlier connection: online at once, the caption stays.
  vantiro::State().MCValidate = true;
  AnswerAndWait("l4", "hello", "result:ok\n");
  EXPECT_EQ(host_.Count("mc_logged_in", &kEmpty), 1);
  EXPECT_EQ(presenter_->Captions().size(), 3u);
  EXPECT_EQ(vantiro::CaptionDots(), "...");
}

TEST_F(ReaderTest, WithoutASupervisorTheLoginIsNotMarkedAndTheCaptionUsesTheDefault) {
  supervisor_.reset();
  AnswerAndWait("l1", "hello", "result:ok\n");
  EXPECT_FALSE(vantiro::State().LoginAuthenticated);
  EXPECT_EQ(app().Caption(), "Quillmere Client - [Now Validating Password......]");
  EXPECT_TRUE(Traced("ReadSocketThread::Changing caption: to Quillmere Client"));
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): QUEUE_LOGGED_IN:LoginAuthenticated=false"));
}

TEST_F(ReaderTest, RefusedLoginReportsThenAbortsAfterTheNotice) {
  const struct {
    const char* result;
    int notice;
  } rows[] = {{"mailbox_locked", 1}, {"failure", 2}, {"busy", 0}};
  int aborts = 0;
  for (const auto& row : rows) {
    const std::size_t boxesBefore = presenter_->Boxes().size();
    AnswerAndWait(row.result, "hello", std::string("result:") + row.result + "\n");
    EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), aborts + 1);
    EXPECT_EQ(Aborts(), ++aborts) << row.result;
    const std::vector<Box> boxes = presenter_->Boxes();
    ASSERT_EQ(boxes.size(), boxesBefore + (row.notice != 0 ? 1 : 0)) << row.result;
    if (row.notice != 0) {
      EXPECT_EQ(boxes.back().text, vantiro::FailureNoticeText(static_cast<FailureNotice>(row.notice))->text);
      EXPECT_EQ(boxes.back().loginFailedBefore, aborts);  // published before the box
      EXPECT_EQ(boxes.back().abortsBefore, aborts - 1);   // aborted after it
    }
  }
  EXPECT_TRUE(supervisor_->aborting());
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): Hello returned =[failure]"));
  EXPECT_FALSE(Traced("Hello returned =[busy]"));
  EXPECT_FALSE(reader_->Finished());
}

TEST_F(ReaderTest, RefusedPasswordPromptsAndEndsTheReader) {
  Answer("p", "hello", "result:password_invalid\n");
  // The prompt waits for the main thread; the failure is published before it.
  ASSERT_TRUE(WaitUntil([] { return app().PendingCount() > 0; }));
  EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), 1);
  EXPECT_TRUE(Recorded("p"));
  EXPECT_FALSE(reader_->Finished());
  ASSERT_TRUE(ReaderEnded());
  EXPECT_FALSE(Recorded("p"));
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): Hello returned =[password_invalid]"));
  EXPECT_TRUE(Traced("ReadThread::Execute(): Starting thread termination"));
  // Nobody answered the dialog, so its "E&xit" button was pressed (it warns first):
  // the user left the prompt, and the connection ends for good.
  EXPECT_EQ(host_.Data("mc_profile"), "11");
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
  EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), 2);
  ASSERT_EQ(presenter_->Boxes().size(), 1u);
  EXPECT_EQ(presenter_->Boxes()[0].title, "Login is Still Processing");
}

TEST_F(ReaderTest, CommandsAreRelayedWithoutTheirIdProfileAndCommand) {
  const struct {
    const char *command, *queue;
  } rows[] = {{"activity", "mc_activity"},
              {"subscriber_activity", "subscriber_activity"},
              {"presence_monitor_status", "presence_monitor_status"},
              {"receive_im", "receive_im"}};
  for (const auto& row : rows) {
    Send(std::string("zeta:1\nid:unknown-") + row.command + "\nprofile:4711\ncommand:" + row.command +
         "\ncaller:x:y\nalpha:\n");
  }
  ASSERT_TRUE(WaitUntil([&] { return host_.Publications().size() == 4; }));
  for (const auto& row : rows) {
    const std::string expected = "zeta:1\ncaller:x:y\nalpha:\n";
    EXPECT_EQ(host_.Count(row.queue, &expected), 1) << row.queue;
  }
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): command=[receive_im]"));

  // Unknown commands, and packets without a usable command (an answer whose request
  // was forgotten included), are dropped.
  Send("command:something_else\nx:1\n");
  Send("id:forgotten\nresult:ok\n");
  Send("command:\n");
  Send("command:activity\nlast:1\n");
  ASSERT_TRUE(WaitUntil([&] { return host_.Publications().size() == 5; }));
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): command=[something_else]"));
  EXPECT_EQ(TraceCount("ReadThread::ProcessPacket(): Got a packet that we can't handle.  Ignoring"), 2);
}

TEST_F(ReaderTest, RejectionsRetryAbortOrAreIgnored) {
  Send("command:rejection\nreason:too_many_clients\n");
  ASSERT_TRUE(WaitForTrace("PluginThread::RetryConnection(): At start"));
  EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), 1);
  Send("command:rejection\nreason:bogus\n");
  Send("command:rejection\n");
  ASSERT_TRUE(WaitUntil([&] {
    return TraceCount("ReadThread::ProcessPacket(): Got an unrecognized rejection reason.  Ignoring.") == 2;
  }));
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): rejection reason=[bogus]"));
  EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), 3);
  EXPECT_EQ(host_.Count("mc_logged_out"), 0);

  Send("command:rejection\nreason:cannot_authenticate\n");
  Send("command:rejection\nreason:mailbox_locked\n");
  ASSERT_TRUE(PumpUntil([&] { return Aborts() == 2; }));
  EXPECT_EQ(host_.Count("mc_logged_out", &kAbort), 1);
  const std::vector<Box> boxes = presenter_->Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].title, "Cannot Authenticate at this time");
  EXPECT_EQ(boxes[0].flags, 4112u);
  EXPECT_EQ(boxes[0].abortsBefore, 0);  // the abort follows the box
  EXPECT_EQ(boxes[1].title, "Mailbox Locked");
  EXPECT_EQ(boxes[1].abortsBefore, 1);

  Send("command:rejection\nreason:password_invalid\n");
  ASSERT_TRUE(ReaderEnded());
  EXPECT_TRUE(Traced("ReadThread::ProcessPacket(): Invalid MCServer/Profile/Password..prompt to change:"));
  EXPECT_EQ(host_.Count("mc_login_failed", &kEmpty), 7);  // before and after the prompt
}

TEST_F(ReaderTest, FramesInOneRecordOrInPiecesAreAllProcessedAtOnce) {
  // Two frames in one TLS record: the second is already decrypted when the first has
  // been read, and nothing more ever arrives on the socket.
  ASSERT_TRUE(peer_->Send(vantiro::EncodeFrame("command:activity\nn:1\n") +
                          vantiro::EncodeFrame("command:activity\nn:2\n")));
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("mc_activity") == 2; }));
  // One frame split over several records.
  const std::string frame = vantiro::EncodeFrame("command:receive_im\ntext:hello there\n");
  for (std::size_t at = 0; at < frame.size(); at += 4) ASSERT_TRUE(peer_->Send(frame.substr(at, 4)));
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("receive_im") == 1; }));
  // Records that end inside the next frame's prefix or body: a frame and the start of
  // the next, then its rest with a large body's beginning, then that body's end and a
  // whole frame.
  const std::string third = vantiro::EncodeFrame("command:activity\nn:3\n");
  const std::string big = vantiro::EncodeFrame("command:activity\nbig:" + std::string(40000, 'b') + "\n");
  const std::string fifth = vantiro::EncodeFrame("command:activity\nn:5\n");
  ASSERT_TRUE(peer_->Send(vantiro::EncodeFrame("command:activity\nn:2b\n") + third.substr(0, 5)));
  ASSERT_TRUE(peer_->Send(third.substr(5) + big.substr(0, 1000)));
  ASSERT_TRUE(peer_->Send(big.substr(1000) + fifth));
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("mc_activity") == 6; }));
  const auto published = host_.Publications();
  ASSERT_EQ(published.size(), 7u);
  EXPECT_EQ(published[0].data, "n:1\n");
  EXPECT_EQ(published[1].data, "n:2\n");
  EXPECT_EQ(published[2].data, "text:hello there\n");
  EXPECT_EQ(published[3].data, "n:2b\n");
  EXPECT_EQ(published[4].data, "n:3\n");
  EXPECT_EQ(published[5].data, "big:" + std::string(40000, 'b') + "\n");
  EXPECT_EQ(published[6].data, "n:5\n");
}

TEST_F(ReaderTest, ReceivedFramesAreTracedWithoutThePassword) {
  Send("command:activity\nx:1\npassword:98765432\ny:2\n");
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("mc_activity") == 1; }));
  EXPECT_TRUE(Traced("ReadThread::Execute(): Receiving a packet of [43] bytes"));
  EXPECT_TRUE(Traced("ReadThread::Execute(): Received [command:activity\nx:1\npassword:\n] bytes"));
  EXPECT_EQ(TraceText().find("98765432"), std::string::npos);
  EXPECT_FALSE(Traced("WriteThread::BlankPassword()"));  // the writer's lines are the writer's

  // A large body: its beginning only.
  Send("command:activity\nbig:" + std::string(100000, 'b') + "\n");
  ASSERT_TRUE(WaitUntil([&] { return host_.Count("mc_activity") == 2; }));
  EXPECT_TRUE(Traced("ReadThread::Execute(): Received [command:activity\nbig:" + std::string(65536 - 21, 'b') + "] bytes"));
}

TEST_F(ReaderTest, TerminateEndsTheReaderQuietlyAndASecondCloseIsSilent) {
  reader_->Terminate();
  ASSERT_TRUE(ReaderEnded());
  EXPECT_TRUE(Traced("ReadThread::Execute(): Starting thread termination"));
  peer_->Close();
  EXPECT_FALSE(Traced("Socket seems to be closed"));
  EXPECT_EQ(host_.Count("mc_logged_out"), 0);
}

TEST_F(ReaderTest, ANoticeOpenAtShutdownDoesNotHoldTheReader) {
  Answer("a", "call_hold", "result:failure\n");
  ASSERT_TRUE(WaitUntil([] { return app().PendingCount() > 0; }));
  peer_->Close();
  app().StopServing();  // the host stops: the waiting notice is dropped unshown
  ASSERT_TRUE(WaitUntil([&] { return reader_->Finished(); }));
  EXPECT_TRUE(presenter_->Boxes().empty());
  EXPECT_FALSE(Recorded("a"));
  EXPECT_EQ(TraceCount("ReadThread::Execute(): Socket seems to be closed.  Exiting thread"), 1);
}

// The supervisor's own reader: started on the connection, told to end with it, and
// ending by the terminate flag (not by the socket the supervisor then shuts).
TEST_F(WriterTest, TheSupervisorsReaderEndsWithIt) {
  StartConnected();
  const std::weak_ptr<vantiro::ReadThread> reader = thread_->Reader();
  ASSERT_FALSE(reader.expired());
  thread_->Terminate();
  ASSERT_TRUE(thread_->WaitFor(20000));
  EXPECT_TRUE(WaitUntil([&] { return reader.expired(); }));
  EXPECT_EQ(TraceCount("ReadThread::Execute(): Starting thread termination"), 1);
  EXPECT_FALSE(Traced("Socket seems to be closed"));
}

// Every way the stream can end or go bad ends the reader the same way: one trace
// line and one report of the connection down with reason 1 (seen as one
// "mc_logged_out" with empty data).
class ReaderEndTest : public ReaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReaderEndTest, EndsTheConnectionOnce) {
  if (*GetParam() != '\0') {
    ASSERT_TRUE(peer_->Send(GetParam()));
  }
  peer_->Close();
  ASSERT_TRUE(ReaderEnded());
  EXPECT_EQ(TraceCount("ReadThread::Execute(): Socket seems to be closed.  Exiting thread"), 1);
  EXPECT_EQ(TraceCount("PluginThread::multiplexorConnectionDown(): Connection down"), 1);
  EXPECT_EQ(host_.Count("mc_logged_out", &kEmpty), 1);
  EXPECT_EQ(host_.Publications().size(), 1u);
  EXPECT_FALSE(Traced("Starting thread termination"));
}

INSTANTIATE_TEST_SUITE_P(Streams, ReaderEndTest,
                         ::testing::Values("",                          // closed while waiting
                                           "0000",                      // inside the prefix
                                           "00000050\ncommand:activ",   // inside the body
                                           "99999999\n",                // a huge body never sent
                                           "0000001x\ncommand:x\n",     // not eight digits
                                           "hello, multiplexor\n"));    // garbage

}  // namespace
}  // namespace connection_test
