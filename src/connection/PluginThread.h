// PluginThread: the supervisor that owns the link to the multiplexor. It asks the
// host for the multiplexor's address, connects over TLS, keeps the connection alive
// and, after a drop, starts over or ends. It is also the gateway through which the
// other threads reach the host: settings and queue publications.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "qmos/hresult.h"
#include "qmos/thread.h"

namespace quillmere {
struct IQMViewerBase;
}

namespace vantiro {

class TlsConnection;

class PluginThread : public qmos::TThread {
 public:
  // Creates the supervisor's somethingToWriteEvent, clears LoginAuthenticated. The
  // caller starts it (qmos::TThread::StartNew<PluginThread>(callback) does both).
  explicit PluginThread(quillmere::IQMViewerBase* hostCallback);
  ~PluginThread() override;

  // The multiplexor's address from the host's lookup answer; set before
  // multiplexorAddressEvent is set.
  void SetMultiplexorAddress(const std::string& address);
  void SetMultiplexorPort(std::uint16_t port);

  // Host access. GetHostData yields the empty text when the host has no value.
  std::string GetHostData(const std::string& key);
  qmos::HRESULT PutHostData(const std::string& key, const std::string& value);
  void PublishToHost(const std::string& queue, const std::string& data);

  // reason 1: the reader found the connection closed; 2: any other cause.
  void multiplexorConnectionDown(int reason);
  void AbortConnection();
  void RetryConnection();

  std::int32_t lastConnectResult() const { return lastConnectResult_.load(); }
  bool connected() const { return connected_.load(); }

 protected:
  void Execute() override;

 private:
  // ... fields and the TLS operations (GetCACertificate, initialize_ctx,
  // ConnectToMultiplexor, Disconnect) are the implementation's.
  std::atomic<std::int32_t> lastConnectResult_{0};
  std::atomic<bool> connected_{false};
};

}  // namespace vantiro
