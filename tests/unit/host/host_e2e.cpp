#include "host_e2e.h"

#include <signal.h>

#include <cstdlib>

#include "qmos/activation.h"
#include "qmos/registry.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"

namespace host_test {

std::vector<Json> HostRun::Of(const std::string& name) const {
  std::vector<Json> found;
  for (const Json& e : events)
    if (e.value("event", "") == name) found.push_back(e);
  return found;
}

int HostRun::Find(const Json& match, int from) const {
  for (int i = from; i < static_cast<int>(events.size()); ++i) {
    bool all = true;
    for (const auto& [key, value] : match.items())
      if (!events[static_cast<std::size_t>(i)].contains(key) ||
          events[static_cast<std::size_t>(i)][key] != value)
        all = false;
    if (all) return i;
  }
  return -1;
}

std::size_t HostRun::Count(const Json& match) const {
  std::size_t n = 0;
  for (int i = Find(match); i >= 0; i = Find(match, i + 1)) ++n;
  return n;
}

HostRun ReadEventFile(const std::string& path) {
  HostRun run;
  run.text = testsupport::ReadFile(path);
  for (const std::string& line : testsupport::Lines(run.text)) {
    const Json parsed = Json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
    if (!parsed.is_discarded()) run.events.push_back(parsed);
  }
  return run;
}

std::string QmhostPath() {
  const char* bin = std::getenv("QM_TEST_BIN_DIR");
  return bin ? std::string(bin) + "/qmhost" : std::string(QMHOST_PROGRAM);
}

void HostE2ETest::SetUp() {
  TempDirTest::SetUp();
  registry_ = PathOf("registry.reg");
  qmos::SetRegistryFile(registry_);
  qmos::HRESULT hr = 0;
  std::string error;
  auto module = qmos::ComModule::Load(HOST_FAKE_PLUGIN, hr, error);
  ASSERT_TRUE(module) << error;
  ASSERT_EQ(module->RegisterServer(), qmos::S_OK);
}

HostRun HostE2ETest::Run(const std::string& script, std::vector<std::string> args,
                         const std::string& events) {
  testsupport::WriteFile(PathOf("script.txt"), script);
  std::vector<std::string> argv = {"--registry", registry_, "--script", PathOf("script.txt"),
                                   "--events", PathOf(events)};
  argv.insert(argv.end(), args.begin(), args.end());
  // Bounded: a host that hangs fails the test instead of the suite.
  const testsupport::Result result = testsupport::RunProgram(QmhostPath(), argv, {}, "", 60000);
  if (result.status == 128 + SIGKILL) ADD_FAILURE() << "qmhost did not end";
  stderr_ = result.err;
  HostRun run;
  if (events.find(".txt") == std::string::npos) {
    run = ReadEventFile(PathOf(events));
  } else {
    run.text = testsupport::ReadFile(PathOf(events));
  }
  run.status = result.status;
  return run;
}

}  // namespace host_test
