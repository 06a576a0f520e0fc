// The fixture of the end-to-end tests of the connection: the plug-in registered with
// regsvr and loaded by qmhost, talking TLS to the multiplexor emulator muxsim, with
// helpers to follow both programs' event lines and the notices' exact texts.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace connection_e2e {

using e2e::Process;
using e2e::RunProgram;
using e2e::World;
using Event = Process::Event;
using namespace std::chrono_literals;

const char* const kSettings = "HKLM\\SOFTWARE\\Quillmere\\Viewer\\Settings";
const char* const kProfile = "1234";
const char* const kPassword = "11112222";
const char* const kCaption = "Quillmere Client - [Now Validating Password......]";
const char* const kMultiplexorLookup = "service_name:multiplexor\nforced:1\n";
const char* const kValidationLookup = "service_name:XXX_MessageCenterAPI\n";

struct Notice {
  std::string title;
  std::string text;
  int flags;
};

const Notice kMailboxLocked{"Mailbox Locked",
                            "There have been too many failed login attempts and your Rirezer "
                            "Uduzor mailbox is locked.",
                            48};
const Notice kLoginFailed{"Login Failed",
                          "Failed to log in to Rirezer Uduzor.  This does not necessarily mean "
                          "that your password is invalid.  Rirezer Uduzor may be unavailable.",
                          48};
const Notice kCannotAuthenticate{"Cannot Authenticate at this time",
                                 "Failed to log in to Rirezer Uduzor. This does not necessarily "
                                 "mean that your password is invalid.  Rirezer Uduzor may be "
                                 "unavailable. ",
                                 4112};
const Notice kTransferFailed{
    "Transfer Failed",
    "The request to transfer the caller could not be delivered to Rirezer Uduzor.", 48};
const Notice kCallbackNotAuthorized{"Callback Failed",
                                    "The callback number is not authorized for this site.", 48};
const Notice kTargetNotAuthorized{
    "Callback Failed", "The number of the person you are calling is not authorized for this site.",
    48};
const Notice kTransferNotAuthorized{"Transfer Failed",
                                    "The transfer number is not authorized for this site.", 48};
const Notice kHoldFailed{
    "Login Failed",
    "The request to place the caller on hold could not be delivered to Rirezer Uduzor.", 48};
const Notice kTakeMessageFailed{"Login Failed",
                                "The request to have the caller leave a voice message could not "
                                "be delivered to Rirezer Uduzor.",
                                48};
const Notice kPlayMessageFailed{
    "Login Failed",
    "The request to play a message to the caller could not be delivered to Rirezer Uduzor.", 48};
const Notice kMonitorFailed{"Cannot Monitor Subscriber",
                            "The requested subscriber could not be monitored.", 48};
const Notice kStopMonitorFailed{"Cannot Stop Monitoring Subscriber",
                                "The request to stop monitoring the susbscriber failed.", 48};
const Notice kStopAllFailed{"Cannot Stop Monitoring Subscribers",
                            "The request to stop monitoring all susbscribers failed.", 48};

inline bool IsMessageBox(const Event& e) { return e["event"] == "message_box"; }

// A publication of the plug-in itself (the host's own have no "plugin" member).
inline bool PluginPublished(const Event& e, const std::string& queue) {
  return e["event"] == "publish" && e["queue"] == queue && e.contains("plugin");
}

inline std::vector<Event> Select(const std::vector<Event>& events,
                          const std::function<bool(const Event&)>& match) {
  std::vector<Event> found;
  for (const Event& e : events)
    if (match(e)) found.push_back(e);
  return found;
}

// The frame's fields as name/value pairs in packet order, without the writer's id.
inline std::vector<std::pair<std::string, std::string>> FieldsOf(const Event& frame) {
  std::vector<std::pair<std::string, std::string>> fields;
  for (auto it = frame["fields"].begin(); it != frame["fields"].end(); ++it)
    if (it.key() != "id") fields.emplace_back(it.key(), it.value().get<std::string>());
  return fields;
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const e2e::Result reg =
        RunProgram(e2e::Tool("regsvr"), {e2e::PluginModule()}, world.Env(), "");
    ASSERT_EQ(reg.status, 0) << reg.out << reg.err;
    world.SetString(kSettings, "TraceFilesDir", e2e::HostPath(world.Dir()));
    world.SetDword(kSettings, "TraceEnabled", 1);

    // muxsim and qmhost show passwords in their events: the tests check what was sent
    // and stored. mcsim keeps them hidden, and Finish checks that it does.
    mux = std::make_unique<Process>(
        e2e::BinDir() + "/muxsim",
        std::vector<std::string>{"--make-certs", world.File("mux"), "--profile",
                                 std::string(kProfile) + ":" + kPassword, "--show-secrets"},
        world.Env(), world.File("muxsim.err"));
    const Event listening = mux->WaitEvent("listening");
    ASSERT_FALSE(listening.is_null()) << mux->ErrorText();
    port = listening["port"].get<int>();
    // The plug-in verifies muxsim's certificate against the CA that signed it.
    world.SetString(kSettings, "CACertificate", e2e::HostPath(world.File("mux/ca.pem")));

    host = std::make_unique<Process>(
        e2e::Tool("qmhost"),
        e2e::HostArgs({"--format", "json", "--plugin", "VantiroPlugin.Vantiro", "--show-secrets"}),
        world.Env(), world.File("qmhost.err"));
    ASSERT_FALSE(host->WaitEvent("subscribe", {{"queue", "send_im"}}).is_null())
        << host->ErrorText();
  }

  void TearDown() override {
    // The host first: its plug-in may still be connected to muxsim and mcsim.
    host.reset();
    mc.reset();
    mux.reset();
  }

  // Starts mcsim, the mailbox server, on 127.0.0.1 with a port it picks, holding the
  // given --mailbox values, and makes the host answer the mailbox server's lookups
  // with its address. It serves muxsim's certificate, so the one trusted CA
  // ("CACertificate") covers both servers.
  void StartMailboxServer(const std::vector<std::string>& mailboxes) {
    std::vector<std::string> args{"--cert", world.File("mux/server.pem"), "--key",
                                  world.File("mux/server.key")};
    for (const std::string& mailbox : mailboxes) {
      args.push_back("--mailbox");
      args.push_back(mailbox);
    }
    mc = std::make_unique<Process>(e2e::BinDir() + "/mcsim", args, world.Env(),
                                   world.File("mcsim.err"));
    const Event listening = mc->WaitEvent("listening");
    ASSERT_FALSE(listening.is_null()) << mc->ErrorText();
    mcPort = listening["port"].get<int>();
    host->Send("service XXX_MessageCenterAPI 127.0.0.1 " + std::to_string(mcPort));
  }

  // Runs an mcsim command and waits until mcsim has read it (the "mailboxes" report
  // comes after every command before it has run).
  void Mc(const std::string& line) {
    const std::size_t from = mc->Count();
    mc->Send(line);
    mc->Send("mailboxes");
    ASSERT_TRUE(mc->Saw([](const Event& e) { return e["event"] == "mailboxes"; }, from)) << line;
  }

  // Stores the credentials, then makes the multiplexor known, so that the first login
  // carries them; returns the hello frame.
  Event Login(const std::string& profile = kProfile, const std::string& password = kPassword) {
    host->Send("set mc_profile " + profile);
    host->Send("set mc_password " + password);
    host->Send("service multiplexor 127.0.0.1 " + std::to_string(port));
    return NextHello();
  }

  // Runs a muxsim command and waits until muxsim has read it (its commands run in
  // order, so a "help" answered means every command before it has run).
  void Mux(const std::string& line) {
    const std::size_t from = mux->Count();
    mux->Send(line);
    mux->Send("help");
    ASSERT_TRUE(mux->Saw([](const Event& e) { return e["event"] == "help"; }, from)) << line;
  }

  // A restart request right after an abort, while the aborted supervisor may still be
  // ending: one request starts a new supervisor, which first asks for the multiplexor.
  // It is sent once the host has handed the abort back to the plug-in (a restart
  // before that would be undone by the abort coming after it).
  void RestartAfterAbort() {
    const std::vector<Event> events = host->Events();
    std::size_t abort = events.size();
    while (abort > 0 && !(PluginPublished(events[abort - 1], "mc_logged_out") &&
                          events[abort - 1]["data"] == "reason:abort\n"))
      --abort;
    ASSERT_GT(abort, 0u) << "no abort to restart after";
    ASSERT_TRUE(host->Saw([](const Event& e) { return e["event"] == "call" && e["method"] == "Publish" &&
                                                      e["queue"] == "mc_logged_out" &&
                                                      e["data"] == "reason:abort\n"; },
                          abort));
    const std::size_t from = host->Count();
    host->Send("publish mc_logged_out reason:restart\\n");
    EXPECT_TRUE(host->Saw([](const Event& e) { return PluginPublished(e, "service_lookup_request") &&
                                                      e["data"] == kMultiplexorLookup; },
                          from))
        << "no supervisor started after a restart request";
  }

  Event NextHello() { return mux->WaitEvent("frame", {{"command", "hello"}}); }

  Event NextFrame(const std::string& command) {
    return mux->WaitEvent("frame", {{"command", command}});
  }

  Event HostPublication(const std::string& queue, const std::string& data) {
    return host->WaitFor(
        [&](const Event& e) { return PluginPublished(e, queue) && e["data"] == data; },
        "publish " + queue + " [" + data + "]");
  }

  Event NextBox() { return host->WaitFor(IsMessageBox, "message_box"); }

  static void ExpectNotice(const Event& box, const Notice& notice) {
    EXPECT_EQ(box["title"], notice.title) << box.dump();
    EXPECT_EQ(box["text"], notice.text) << box.dump();
    EXPECT_EQ(box["flags"], notice.flags) << box.dump();
  }

  // Terminate, quit, every program ends with status 0 (a sanitizer's report would
  // change it), the module is unloaded, and neither the trace nor mcsim's event lines
  // hold a configured password.
  // Returns how long the host waited for Terminate.
  std::chrono::milliseconds Finish(const std::vector<std::string>& passwords = {kPassword}) {
    const std::chrono::milliseconds terminate = terminated ? std::chrono::milliseconds(0) : Terminate();
    host->Send("quit");
    host->CloseInput();
    EXPECT_EQ(host->WaitExit(30s), 0) << host->ErrorText();
    EXPECT_FALSE(host->WaitEvent("exit", {{"status", 0}, {"loaded_modules", 0}}).is_null());
    mux->CloseInput();
    EXPECT_EQ(mux->WaitExit(30s), 0) << mux->ErrorText();
    if (mc) {
      mc->CloseInput();
      EXPECT_EQ(mc->WaitExit(30s), 0) << mc->ErrorText();
      for (const Event& e : mc->Events())
        for (const std::string& password : passwords)
          EXPECT_EQ(e.dump().find(password), std::string::npos) << password << " in " << e.dump();
    }

    const std::string trace = e2e::ReadFile(world.TraceFile());
    EXPECT_NE(trace.find("password:"), std::string::npos) << "the logins are traced";
    for (const std::string& password : passwords)
      EXPECT_EQ(trace.find(password), std::string::npos) << password << " in the trace";
    return terminate;
  }

  // The host terminates the plug-in (once per test); returns how long the host
  // waited for Terminate.
  std::chrono::milliseconds Terminate() {
    terminated = true;
    const auto start = std::chrono::steady_clock::now();
    host->Send("terminate");
    EXPECT_FALSE(host->WaitEvent("call", {{"method", "Terminate"}}).is_null());
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  }

  int CountPluginPublications(const std::string& queue, const std::string& data) {
    return static_cast<int>(Select(host->Events(), [&](const Event& e) {
                              return PluginPublished(e, queue) && e["data"] == data;
                            }).size());
  }

  World world;
  std::unique_ptr<Process> mux;
  std::unique_ptr<Process> mc;  // when a test starts the mailbox server
  std::unique_ptr<Process> host;
  int port = 0;
  int mcPort = 0;
  bool terminated = false;
};

}  // namespace connection_e2e
