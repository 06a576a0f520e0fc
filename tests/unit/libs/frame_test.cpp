#include "frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vantiro::EncodeFrame;
using vantiro::FrameDecoder;
using vantiro::ParseFramePrefix;

std::vector<std::string> PopAll(FrameDecoder& decoder) {
    std::vector<std::string> texts;
    while (auto text = decoder.Pop()) texts.push_back(std::move(*text));
    return texts;
}

TEST(FrameTest, EncodeAndParsePrefix) {
    EXPECT_EQ(EncodeFrame(""), "00000000\n");
    EXPECT_EQ(EncodeFrame("command:heartbeat\n"), "00000018\ncommand:heartbeat\n");
    EXPECT_EQ(EncodeFrame(std::string(12345, 'x')).substr(0, 9), "00012345\n");

    EXPECT_EQ(ParseFramePrefix("00000000\n"), 0u);
    EXPECT_EQ(ParseFramePrefix("00000018\n"), 18u);
    EXPECT_EQ(ParseFramePrefix("99999999\n"), 99'999'999u);
    for (const char* bad : {"0000001a\n", "12345678x", "1234567\n", "000000001\n", "-0000001\n",
                            " 0000001\n", "+0000001\n", "", "00000001\r"}) {
        EXPECT_EQ(ParseFramePrefix(bad), std::nullopt) << bad;
    }
    const std::string with_nul = std::string("0000") + '\0' + "001\n";
    ASSERT_EQ(with_nul.size(), 9u);
    EXPECT_EQ(ParseFramePrefix(with_nul), std::nullopt);
}

TEST(FrameTest, DecoderFedByteByByte) {
    const std::vector<std::string> texts = {"id:1\nresult:ok\n", "", "00000005\nnot a prefix",
                                            std::string(300, 'z')};
    std::string stream;
    for (const auto& text : texts) stream += EncodeFrame(text);

    FrameDecoder decoder;
    std::vector<std::string> decoded;
    for (char c : stream) {
        decoder.Feed(std::string_view(&c, 1));
        for (auto& text : PopAll(decoder)) decoded.push_back(std::move(text));
    }
    EXPECT_EQ(decoded, texts);
    EXPECT_FALSE(decoder.failed());
    EXPECT_TRUE(decoder.at_frame_boundary());

    FrameDecoder whole;
    whole.Feed(stream);
    EXPECT_EQ(PopAll(whole), texts);
}

TEST(FrameTest, DecoderReportsAStreamEndingInsideAFrame) {
    FrameDecoder decoder;
    decoder.Feed("00000010\nabc");
    EXPECT_FALSE(decoder.at_frame_boundary());
    EXPECT_EQ(decoder.Pop(), std::nullopt);
    decoder.Feed("defghij00000");
    EXPECT_EQ(decoder.Pop(), "abcdefghij");
    EXPECT_FALSE(decoder.at_frame_boundary());
}

TEST(FrameTest, DecoderFailsOnABadPrefixAndKeepsEarlierFrames) {
    FrameDecoder decoder;
    decoder.Feed(EncodeFrame("good") + "0000001a\nxxxxxxxxxxxxxxxx");
    EXPECT_TRUE(decoder.failed());
    EXPECT_EQ(decoder.Pop(), "good");
    decoder.Feed(EncodeFrame("after"));
    EXPECT_EQ(decoder.Pop(), std::nullopt);

    FrameDecoder limited(4);
    limited.Feed("00000005\n");
    EXPECT_TRUE(limited.failed());
}

}  // namespace
