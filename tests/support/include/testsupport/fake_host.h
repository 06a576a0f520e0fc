// A stand-in for the client's callback object: records subscriptions and
// publications (from any thread), keeps settings in a map, can hold a publication on
// one queue until the test releases it, and records the calls a plug-in is not
// expected to make.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qmos/bstr.h"
#include "quillmere/qm_viewer.h"

namespace testsupport {

struct Publication {
  std::string queue;
  std::string data;
  bool operator==(const Publication&) const = default;
};

class FakeHost final : public quillmere::IQMViewerBase {
 public:
  using BSTR = qmos::BSTR;
  using HRESULT = qmos::HRESULT;
  using LONG = qmos::LONG;
  using SHORT = qmos::SHORT;

  // How the settings calls answer.
  struct Answers {
    // GetData of a key the host does not hold: S_FALSE and a null string, or with
    // staleOnMissingKey E_FAIL and a string all the same (the caller must ignore it
    // and still free it).
    bool staleOnMissingKey = false;
    HRESULT putData = qmos::S_OK;
  };

  FakeHost() = default;
  explicit FakeHost(Answers answers) : answers_(answers) {}

  // Called after each Publish has been recorded, on the publishing thread (before
  // a hold). Set it before the plug-in's threads run.
  std::function<void(const std::string& queue)> onPublish;

  // IUnknown. The host lives on the test's stack; references are not counted.
  HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (ppv == nullptr) return qmos::E_POINTER;
    if (riid == qmos::IID_IUnknown || riid == quillmere::IID_IQMViewerBase) {
      *ppv = static_cast<quillmere::IQMViewerBase*>(this);
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return 2; }
  qmos::ULONG QMOS_COM_CALL Release() override { return 1; }

  HRESULT QMOS_COM_CALL NumMsgs(LONG, LONG, LONG, LONG, LONG, LONG) override { return Unexpected("NumMsgs"); }
  HRESULT QMOS_COM_CALL SetStatusBarText(BSTR) override { return Unexpected("SetStatusBarText"); }
  HRESULT QMOS_COM_CALL Alert(BSTR) override { return Unexpected("Alert"); }
  HRESULT QMOS_COM_CALL SetVisibleStatus(SHORT) override { return Unexpected("SetVisibleStatus"); }
  HRESULT QMOS_COM_CALL DeleteData(BSTR) override { return Unexpected("DeleteData"); }
  HRESULT QMOS_COM_CALL MenuEnableDisable(SHORT, SHORT) override { return Unexpected("MenuEnableDisable"); }
  HRESULT QMOS_COM_CALL MenuCheck(SHORT, SHORT) override { return Unexpected("MenuCheck"); }
  HRESULT QMOS_COM_CALL SetInfoAvailable() override { return Unexpected("SetInfoAvailable"); }
  HRESULT QMOS_COM_CALL ClearInfoAvailable() override { return Unexpected("ClearInfoAvailable"); }
  HRESULT QMOS_COM_CALL ClearAllInfoAvailable() override { return Unexpected("ClearAllInfoAvailable"); }

  HRESULT QMOS_COM_CALL Publish(BSTR queue, BSTR data) override {
    const std::string name = qmos::BstrToUtf8(queue);
    std::unique_lock<std::mutex> lock(mutex_);
    publications_.push_back({name, qmos::BstrToUtf8(data)});
    changed_.notify_all();
    if (onPublish) {
      lock.unlock();
      onPublish(name);
      lock.lock();
    }
    // A held queue keeps the publisher here until the test lets go (bounded).
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return holdQueue_ != name; });
    return qmos::S_OK;
  }
  HRESULT QMOS_COM_CALL Subscribe(BSTR queue) override {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.push_back(qmos::BstrToUtf8(queue));
    return qmos::S_OK;
  }
  HRESULT QMOS_COM_CALL PutData(BSTR key, BSTR data) override {
    SetData(qmos::BstrToUtf8(key), qmos::BstrToUtf8(data));
    return answers_.putData;
  }
  HRESULT QMOS_COM_CALL GetData(BSTR key, BSTR* data) override {
    if (data == nullptr) return qmos::E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = settings_.find(qmos::BstrToUtf8(key));
    if (it != settings_.end()) {
      *data = qmos::BstrFromUtf8(it->second);
      return qmos::S_OK;
    }
    if (answers_.staleOnMissingKey) {
      *data = qmos::BstrFromUtf8("stale");
      return qmos::E_FAIL;
    }
    *data = nullptr;
    return qmos::S_FALSE;
  }

  void SetData(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_[key] = value;
  }
  // The setting's value, or "" when it is not set.
  std::string Data(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = settings_.find(key);
    return found == settings_.end() ? std::string() : found->second;
  }

  std::vector<std::string> Subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
  }
  std::vector<Publication> Publications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return publications_;
  }
  // The publications on queue (with data, when given).
  int Count(const std::string& queue, const std::string* data = nullptr) const {
    int count = 0;
    for (const Publication& entry : Publications()) {
      if (entry.queue == queue && (data == nullptr || entry.data == *data)) ++count;
    }
    return count;
  }
  std::vector<std::string> UnexpectedCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unexpected_;
  }
  // Waits until a publication on queue has arrived; false after the time-out.
  bool WaitForPublication(const std::string& queue, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto& p : publications_)
        if (p.queue == queue) return true;
      return false;
    });
  }
  // Publications on queue are held in Publish until ReleaseHold() is called.
  void Hold(const std::string& queue) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdQueue_ = queue;
  }
  void ReleaseHold() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdQueue_.clear();
    changed_.notify_all();
  }

 private:
  HRESULT Unexpected(const char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    unexpected_.emplace_back(name);
    return qmos::E_NOTIMPL;
  }

  const Answers answers_{};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> subscriptions_;
  std::vector<Publication> publications_;
  std::map<std::string, std::string> settings_;
  std::vector<std::string> unexpected_;
  std::string holdQueue_;
};

}  // namespace testsupport
