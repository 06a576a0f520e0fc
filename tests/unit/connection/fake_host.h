// A host callback for the connection tests: records every Publish (from any thread),
// answers GetData from a map, and may answer each multiplexor lookup at once with an
// address, as a host with a directory would.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qmos/bstr.h"
#include "quillmere/qm_viewer.h"

namespace connection_test {

class FakeHost : public quillmere::IQMViewerBase {
 public:
  using Published = std::pair<std::string, std::string>;  // queue, data

  // Called after each Publish has been recorded, on the publishing thread.
  std::function<void(const std::string& queue)> onPublish;

  std::vector<Published> Publications() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return published_;
  }
  int Count(const std::string& queue, const std::string* data = nullptr) const {
    int count = 0;
    for (const Published& entry : Publications()) {
      if (entry.first == queue && (data == nullptr || entry.second == *data)) ++count;
    }
    return count;
  }
  void SetData(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> guard(mutex_);
    data_[key] = value;
  }
  std::string Data(const std::string& key) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = data_.find(key);
    return found == data_.end() ? std::string() : found->second;
  }

  qmos::HRESULT Publish(qmos::BSTR queue, qmos::BSTR data) override {
    const std::string name = qmos::BstrToUtf8(queue);
    {
      std::lock_guard<std::mutex> guard(mutex_);
      published_.emplace_back(name, qmos::BstrToUtf8(data));
    }
    if (onPublish) onPublish(name);
    return qmos::S_OK;
  }
  // A missing key fails, and hands back a string all the same: the caller must
  // ignore it and still free it.
  qmos::HRESULT GetData(qmos::BSTR key, qmos::BSTR* data) override {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = data_.find(qmos::BstrToUtf8(key));
    *data = qmos::BstrFromUtf8(found == data_.end() ? "stale" : found->second);
    return found == data_.end() ? qmos::E_FAIL : qmos::S_OK;
  }
  qmos::HRESULT PutData(qmos::BSTR key, qmos::BSTR data) override {
    SetData(qmos::BstrToUtf8(key), qmos::BstrToUtf8(data));
    return qmos::S_FALSE;
  }

  qmos::HRESULT QueryInterface(const qmos::IID&, void** out) override {
    *out = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG AddRef() override { return 1; }
  qmos::ULONG Release() override { return 1; }
  qmos::HRESULT NumMsgs(qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG, qmos::LONG) override {
    return qmos::S_OK;
  }
  qmos::HRESULT SetStatusBarText(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT Alert(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT SetVisibleStatus(qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT Subscribe(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT DeleteData(qmos::BSTR) override { return qmos::S_OK; }
  qmos::HRESULT MenuEnableDisable(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT MenuCheck(qmos::SHORT, qmos::SHORT) override { return qmos::S_OK; }
  qmos::HRESULT SetInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT ClearInfoAvailable() override { return qmos::S_OK; }
  qmos::HRESULT ClearAllInfoAvailable() override { return qmos::S_OK; }

 private:
  mutable std::mutex mutex_;
  std::vector<Published> published_;
  std::map<std::string, std::string> data_;
};

}  // namespace connection_test
