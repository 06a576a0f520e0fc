// The performance log: its rows' figures, and the banner each initialisation appends
// beside the trace file while the log is switched on (and nothing while it is off).
#include <cstdint>
#include <cstring>

#include "connection/perf_rows.h"
#include "connection/sent_packets.h"
#include "diag/perf_log.h"
#include "packet.h"
#include "plugin/VantiroImpl.h"
#include "plugin_fixture.h"
#include "qmos/com_ptr.h"
#include "state/process_state.h"

namespace plugin_test {
namespace {

using vantiro::PerfTime;
using vantiro::State;

constexpr const char* kHeader =
    "Packet ID                        Command              Sent            Received       Elapsed ms";

TEST(PerfRows, FiguresAreTheMillisecondsBetweenTheTwoMoments) {
  EXPECT_EQ(vantiro::AnswerRow("p-1", "call_hold", PerfTime{100, 250}, PerfTime{101, 750}),
            "p-1 call_hold                    100.250        101.750       1500");
  // A notice stamped 40 s before it came: the true figure, not one cut to 16 bits.
  EXPECT_EQ(vantiro::ActivityRow("m-1", "activity - ring", PerfTime{1000, 0}, PerfTime{1040, 5}),
            "m-1 activity - ring      *      1000.000 1040.005     *40005");
  // A stamp from a clock ahead of ours shows the distance all the same.
  EXPECT_EQ(vantiro::ActivityRow("m-2", "x - y", PerfTime{50, 900}, PerfTime{50, 400}),
            "m-2 x - y                *        50.900 50.400       *500");
  // Milliseconds out of range in a notice are held to 0..999, the figure in 64 bits.
  EXPECT_EQ(vantiro::ActivityRow("m-3", "x - y", PerfTime{50, INT32_MIN}, PerfTime{50, 400}),
            "m-3 x - y                *        50.000 50.400       *400");
}

class PerfLogTest : public PluginTest {
 protected:
  void TearDown() override {
    State().PerfLogEnabled = false;
    PluginTest::TearDown();
  }
  void InitializeAndTerminate() {
    FakeHost host;
    auto plugin = qmos::ComPtr<quillmere::IQMViewerPlugin>::Attach(
        static_cast<quillmere::IQMViewerPlugin*>(new vantiro::TVantiroImpl()));
    ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
    if (State().PerfLogEnabled) {
      // Rows written while the plug-in runs go to the same file: an answer whose
      // record was made now, and a notice without a stamp (shown as 0.000).
      PACKET request = PH_create("id:r-1\ncommand:heartbeat\n", 26);
      vantiro::AddSentPacket(request);
      vantiro::SentPacketRecord record{};
      ASSERT_TRUE(vantiro::LookUpSentPacket("r-1", record));
      vantiro::LogAnswerTime(record);
      PACKET notice = PH_create("id:n-1\ncommand:activity\nactivity:ring\n", 39);
      vantiro::LogActivityTime(notice);
      PH_destroy(notice);
      PH_destroy(request);
    }
    ASSERT_EQ(plugin->Terminate(), qmos::S_OK);
  }
  std::string PerfText() const { return testsupport::ReadFile(PathOf("VantiroBackend.out.perf")); }
};

TEST_F(PerfLogTest, EachInitialisationAppendsTheBannerOnlyWhileSwitchedOn) {
  InitializeAndTerminate();
  EXPECT_FALSE(std::filesystem::exists(PathOf("VantiroBackend.out.perf")));

  State().PerfLogEnabled = true;
  InitializeAndTerminate();
  InitializeAndTerminate();
  const std::string text = PerfText();
  std::size_t banners = 0;
  for (std::size_t at = text.find(kHeader); at != std::string::npos; at = text.find(kHeader, at + 1))
    ++banners;
  EXPECT_EQ(banners, 2u) << text;
  EXPECT_EQ(text.rfind("*********************************************************\n"
                       "* This log file is used for logging performance numbers *\n", 0), 0u);
  EXPECT_NE(text.find("\n\nPacket ID"), std::string::npos) << "the empty 16th line";
  EXPECT_NE(text.find("\nr-1 heartbeat            "), std::string::npos) << text;
  EXPECT_NE(text.find("\nn-1 activity - ring      *         0.000 "), std::string::npos) << text;
  EXPECT_EQ(std::filesystem::status(PathOf("VantiroBackend.out.perf")).permissions() &
                std::filesystem::perms::group_read,
            std::filesystem::perms::none);
}

}  // namespace
}  // namespace plugin_test
