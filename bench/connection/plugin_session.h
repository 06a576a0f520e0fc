// The plug-in object as the client runs it, in this process: a minimal client
// callback that keeps the login settings and counts publications, the plug-in's real
// supervisor, writer and reader, connected over loopback TLS to a peer and logged in.
// Tracing is off (a fresh registry file in a temporary folder). The calling thread is
// the application's main thread and serves its queue while the session starts.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "quillmere/qm_viewer.h"
#include "tls_echo_peer.h"  // Clock

namespace bench {

class BenchHost;

class PluginSession {
 public:
  // Starts the plug-in, answers its lookup with 127.0.0.1:port and waits for the login.
  explicit PluginSession(std::uint16_t port);
  ~PluginSession();  // Terminate, release, remove the folder
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // The client's Publish into the plug-in.
  bool Publish(const std::string& queue, const std::string& data);
  // Waits until the client has received count publications on "mc_activity" in all;
  // false after 30 s.
  bool WaitActivities(std::uint64_t count);
  std::uint64_t Activities() const;
  // When the last "mc_activity" publication reached the client (on the relaying
  // thread, before any waiting thread is woken).
  Clock::time_point LastActivity() const;
  // Whether the sent-packet table is empty (every answer has been removed).
  static bool NothingOutstanding();

  // Service lookups the plug-in has published so far (one per connection attempt).
  int Lookups() const;
  // Answers every lookup not answered yet with the peer's address, as the client
  // does. At a small time scale the supervisor waits only briefly for an answer and
  // then asks again, so whoever waits for the plug-in calls this while waiting.
  void AnswerLookups();
  // Serves the main thread's queue for about ms milliseconds, as the client's loop does.
  static void ServeMainThread(int ms);
  // The folder that holds the registry file and the trace file.
  const std::filesystem::path& Folder() const { return dir_; }

 private:
  std::uint16_t port_;
  int answered_ = 0;  // lookups answered so far
  std::filesystem::path dir_;
  std::unique_ptr<BenchHost> host_;
  quillmere::IQMViewerPlugin* plugin_ = nullptr;
};

}  // namespace bench
