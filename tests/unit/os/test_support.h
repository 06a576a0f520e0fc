// Helpers shared by the platform tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qmos_test {

// Polls pred every millisecond until it holds or ms pass; returns the last answer.
bool WaitUntil(const std::function<bool()>& pred, std::uint32_t ms = 10000);

// Milliseconds since start.
std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it by the
// destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qmos_test
