// Shared support of the end-to-end runs of the built qmhost with the fake plug-in
// module, registered into a registry file of the test's own: the run's events and
// a fixture that feeds a script and takes the event lines from --events.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport/temp_dir.h"

namespace host_test {

using Json = nlohmann::json;

struct HostRun {
  int status = -1;
  std::vector<Json> events;
  std::string text;  // the event file as written

  // The events of this kind, in order.
  std::vector<Json> Of(const std::string& name) const;
  // Index of the first event after `from` whose members include all of `match`.
  int Find(const Json& match, int from = 0) const;
  std::size_t Count(const Json& match) const;
};

// The event file at path as written, and its lines read as JSON (a line that is
// not JSON fails the test).
HostRun ReadEventFile(const std::string& path);

// The qmhost program under test.
std::string QmhostPath();

class HostE2ETest : public testsupport::TempDirTest {
 protected:
  // Registers the fake plug-in module in this test's registry file.
  void SetUp() override;

  // Runs qmhost with the script on --script, standard input empty, and args. An
  // events file whose name holds ".txt" is not read as JSON.
  HostRun Run(const std::string& script, std::vector<std::string> args,
              const std::string& events = "events.out");

  std::string registry_;
  std::string stderr_;
};

}  // namespace host_test

// Expects events matching each step, in this order (others may come between).
#define EXPECT_ORDERED(run, ...)                                                   \
  do {                                                                             \
    int at_ = -1;                                                                  \
    for (const ::host_test::Json& step_ : std::vector<::host_test::Json>{__VA_ARGS__}) { \
      const int next_ = (run).Find(step_, at_ + 1);                                \
      EXPECT_GE(next_, 0) << "missing after event " << at_ << ": " << step_.dump() \
                          << "\n" << (run).text;                                   \
      if (next_ >= 0) at_ = next_;                                                 \
    }                                                                              \
  } while (0)
