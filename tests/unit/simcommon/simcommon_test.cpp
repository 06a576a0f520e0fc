// In-process tests of the emulators' shared parts: frames split across reads and the
// bytes kept to describe a bad one, and how a command line ends or goes on.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include "simcommon/command_line.h"
#include "simcommon/frame_reader.h"

namespace simcommon {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(FrameReader, FramesSplitAnywhereComeWholeAndInOrder) {
    const std::string stream = "00000003\nabc00000000\n00000002\nxy";
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        FrameReader reader(100);
        std::vector<std::string> frames = reader.Feed(std::string_view(stream).substr(0, cut));
        for (auto& frame : reader.Feed(std::string_view(stream).substr(cut))) {
            frames.push_back(std::move(frame));
        }
        EXPECT_THAT(frames, ElementsAre("abc", "", "xy")) << "cut at " << cut;
        EXPECT_TRUE(reader.at_frame_boundary());
        EXPECT_FALSE(reader.failed());
    }
}

TEST(FrameReader, HeadIsTheStartOfTheFrameBeingRead) {
    FrameReader reader(100);
    // A whole frame, then the start of the next one in the same read.
    EXPECT_THAT(reader.Feed("00000001\nA0000002"), ElementsAre("A"));
    EXPECT_EQ(reader.head(), "0000002");
    EXPECT_FALSE(reader.at_frame_boundary());
    // The head grows across reads up to 16 bytes, then stays.
    EXPECT_THAT(reader.Feed("0\nB"), IsEmpty());
    EXPECT_EQ(reader.head(), "00000020\nB");
    EXPECT_THAT(reader.Feed("CDEFGHIJKLMNOPQRST"), IsEmpty());
    EXPECT_EQ(reader.head(), "00000020\nBCDEFGH");
}

TEST(FrameReader, BadFramesFailAfterTheGoodOnesBeforeThem) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> frames;
        std::string head;
    };
    const Case cases[] = {
        {"bad prefix after a frame", "00000002\nok1234x678\ncommand:x\n", {"ok"}, "1234x678\ncommand"},
        {"length above the limit", "00000011\nhello", {}, "00000011\nhello"},
        {"no line feed", "00000001xA", {}, "00000001xA"},
    };
    for (const Case& c : cases) {
        FrameReader reader(10);
        EXPECT_EQ(reader.Feed(c.bytes), c.frames) << c.name;
        EXPECT_TRUE(reader.failed()) << c.name;
        EXPECT_EQ(reader.head(), c.head) << c.name;
        // Nothing is read after the failure, and the bad frame's head stays.
        EXPECT_THAT(reader.Feed("00000001\nZ"), IsEmpty()) << c.name;
        EXPECT_EQ(reader.head(), c.head) << c.name;
    }
}

TEST(CommandLine, HelpErrorsAndMissingCertificatesEndTheProgram) {
    struct Case {
        std::vector<const char*> args;
        bool runs;
        int code;
        std::string message;  // the start of it
    };
    const Case cases[] = {
        {{"--make-certs", "d"}, true, 0, ""},
        {{"--cert", "c", "--key", "k", "--text"}, true, 0, ""},
        {{"--help"}, false, 0, "emu: what it is\nReads commands from --script"},
        {{}, false, 2, "give --cert FILE --key FILE, or --make-certs DIR"},
        {{"--cert", "c"}, false, 2, "--cert requires --key"},
        {{"--secret-7"}, false, 2, "The following argument was not expected: --*"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"emu"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CLI::App app;
        ServerOptions options;
        AddServerOptions(app, "emu: what it is", options);
        const auto early = ParseServerCommandLine(
            app, options, static_cast<int>(argv.size()), argv.data(), [](std::string text) {
                for (auto at = text.find("secret-7"); at != std::string::npos; at = text.find("secret-7")) {
                    text.replace(at, 8, "*");
                }
                return text;
            });
        const std::string line = argv.size() > 1 ? argv[1] : "(none)";
        ASSERT_EQ(!early, c.runs) << line;
        if (!early) continue;
        EXPECT_EQ(early->exit_code, c.code) << line;
        EXPECT_EQ(early->message.substr(0, c.message.size()), c.message) << line;
    }
}

}  // namespace
}  // namespace simcommon
