#include "packet.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct PacketDeleter {
    void operator()(PH_Packet* p) const { PH_destroy(p); }
};
using PacketPtr = std::unique_ptr<PH_Packet, PacketDeleter>;

PacketPtr Parse(std::string_view text) {
    return PacketPtr(PH_create(text.data(), static_cast<int>(text.size())));
}

Fields FieldsOf(PACKET p) {
    int count = -1;
    const char** names = PH_fields(p, &count);
    Fields fields;
    for (int i = 0; i < count; ++i) fields.emplace_back(names[i], PH_valueOf(p, names[i]));
    EXPECT_EQ(names[count], nullptr);
    return fields;
}

std::string BuildNoId(PACKET p) {
    int length = -1;
    const char* text = PH_build_packet_no_id(p, &length);
    EXPECT_EQ(static_cast<std::size_t>(length), std::string(text).size());
    return std::string(text, static_cast<std::size_t>(length));
}

class PacketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        PH_init();
        PH_init();  // idempotent
    }
};

TEST_F(PacketTest, BuiltTextParsesBackToTheSameFields) {
    const Fields fields = {
        {"path", R"(C:\new\temp\n\t.txt)"},
        {"url", "https://example.org:8443/a?b=c:d"},
        {"multi", "line one\nline two\n\nline four"},
        {"edges", "\nstarts and ends with a line feed\n"},
        {"only_lf", "\n"},
        {"tabbed", "\tleading tab\n\tand after a line feed"},
        {"colon_only", ":"},
        {"empty", ""},
        {"cr", "windows\r\nline\r"},
        {"unicode", "Grüße, 東京 ✓"},
        {"name with spaces\\", "value"},
    };
    PacketPtr p(PH_create_empty());
    for (const auto& [name, value] : fields) ASSERT_EQ(PH_add(p.get(), name.c_str(), value.c_str()), 0);
    EXPECT_EQ(FieldsOf(p.get()), fields);

    const PacketPtr again = Parse(BuildNoId(p.get()));
    EXPECT_EQ(FieldsOf(again.get()), fields);

    int length = 0;
    const char* with_id = PH_build_packet(p.get(), &length);
    const PacketPtr answer = Parse(std::string_view(with_id, static_cast<std::size_t>(length)));
    EXPECT_STREQ(PH_valueOf(answer.get(), "id"), PH_valueOf(p.get(), "id"));
    Fields expected = fields;
    expected.insert(expected.begin(), {"id", PH_valueOf(p.get(), "id")});
    EXPECT_EQ(FieldsOf(answer.get()), expected);
}

TEST_F(PacketTest, PlainTextIsWrittenLiterally) {
    PacketPtr p(PH_create_empty());
    PH_add(p.get(), "service_name", "XXX_MessageCenterAPI");
    PH_add(p.get(), "dir", R"(C:\Logs\)");
    PH_add(p.get(), "note", "a\nb");
    EXPECT_EQ(BuildNoId(p.get()), "service_name:XXX_MessageCenterAPI\ndir:C:\\Logs\\\nnote:a\n\tb\n");
}

TEST_F(PacketTest, HandMadeText) {
    EXPECT_EQ(FieldsOf(Parse("a:1\nb:2").get()), (Fields{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(FieldsOf(Parse("").get()), Fields{});
    EXPECT_EQ(FieldsOf(Parse("\n\n").get()), Fields{});
    // Carriage returns are kept as part of the value.
    EXPECT_EQ(FieldsOf(Parse("a:1\r\nb:2\r\n").get()), (Fields{{"a", "1\r"}, {"b", "2\r"}}));
    // Lines without a colon or without a name are skipped, and so is a continuation
    // line that follows no field.
    EXPECT_EQ(FieldsOf(Parse("\tstray\njunk\na:1\n\n:nameless\n\tafter skip\nb:c:d:\n").get()),
              (Fields{{"a", "1"}, {"b", "c:d:"}}));
    EXPECT_EQ(FieldsOf(Parse("k:\n").get()), (Fields{{"k", ""}}));
}

TEST_F(PacketTest, LengthAndTerminatorBoundTheText) {
    const char text[] = "a:1\nb:2\n";
    EXPECT_EQ(FieldsOf(PacketPtr(PH_create(text, 4)).get()), (Fields{{"a", "1"}}));
    EXPECT_EQ(FieldsOf(PacketPtr(PH_create(text, 6)).get()), (Fields{{"a", "1"}, {"b", ""}}));
    EXPECT_EQ(FieldsOf(PacketPtr(PH_create(text, -1)).get()), (Fields{{"a", "1"}, {"b", "2"}}));
    const char with_nul[] = "a:1\0b:2\n";
    EXPECT_EQ(FieldsOf(PacketPtr(PH_create(with_nul, sizeof with_nul - 1)).get()), (Fields{{"a", "1"}}));
}

TEST_F(PacketTest, MissingFieldIsNullAndEmptyValueIsNot) {
    const PacketPtr p = Parse("present:\n");
    EXPECT_EQ(PH_valueOf(p.get(), "absent"), nullptr);
    ASSERT_NE(PH_valueOf(p.get(), "present"), nullptr);
    EXPECT_STREQ(PH_valueOf(p.get(), "present"), "");
}

TEST_F(PacketTest, RepeatedNamesReplaceInPlace) {
    const PacketPtr parsed = Parse("a:1\nb:2\na:3\n\tcontinued\n");
    EXPECT_EQ(FieldsOf(parsed.get()), (Fields{{"a", "3\ncontinued"}, {"b", "2"}}));

    PacketPtr p(PH_create_empty());
    PH_add(p.get(), "x", "1");
    PH_add(p.get(), "y", "2");
    EXPECT_EQ(PH_add(p.get(), "x", "replaced"), 0);
    EXPECT_EQ(FieldsOf(p.get()), (Fields{{"x", "replaced"}, {"y", "2"}}));
    // A value may be set from the packet's own storage.
    EXPECT_EQ(PH_add(p.get(), "x", PH_valueOf(p.get(), "x")), 0);
    EXPECT_EQ(PH_add(p.get(), "z", PH_valueOf(p.get(), "y")), 0);
    EXPECT_EQ(FieldsOf(p.get()), (Fields{{"x", "replaced"}, {"y", "2"}, {"z", "2"}}));
}

TEST_F(PacketTest, ValuePointersSurviveAddingOtherFields) {
    PacketPtr p(PH_create_empty());
    PH_add(p.get(), "first", "short");
    const char* first = PH_valueOf(p.get(), "first");
    for (int i = 0; i < 2000; ++i) PH_add(p.get(), ("f" + std::to_string(i)).c_str(), "v");
    PH_build_packet(p.get(), nullptr);  // puts an id in front
    EXPECT_EQ(PH_valueOf(p.get(), "first"), first);
    EXPECT_STREQ(first, "short");
}

TEST_F(PacketTest, ManyFieldsWithRepeats) {
    // Past the size where look-ups switch to an index, repeats still resolve.
    std::string text;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 5000; ++i) text += "k" + std::to_string(i) + ":" + std::to_string(round) + "\n";
    }
    const PacketPtr p = Parse(text);
    int count = 0;
    const char** names = PH_fields(p.get(), &count);
    ASSERT_EQ(count, 5000);
    EXPECT_STREQ(names[0], "k0");
    EXPECT_STREQ(names[4999], "k4999");
    EXPECT_STREQ(PH_valueOf(p.get(), "k1234"), "2");
    EXPECT_EQ(PH_valueOf(p.get(), "k5000"), nullptr);
}

TEST_F(PacketTest, BadArgumentsAreRefusedWithoutHarm) {
    PacketPtr p(PH_create_empty());
    for (const char* name : {"a:b", "a\nb", "", "\tlead", ":"}) {
        EXPECT_EQ(PH_add(p.get(), name, "v"), -1) << name;
    }
    EXPECT_EQ(PH_add(p.get(), nullptr, "v"), -1);
    EXPECT_EQ(PH_add(p.get(), "n", nullptr), -1);
    EXPECT_EQ(PH_add(nullptr, "n", "v"), -1);
    EXPECT_EQ(FieldsOf(p.get()), Fields{});
    EXPECT_EQ(PH_add(p.get(), "in\ttab and\rcr", "v"), 0);

    EXPECT_EQ(PH_valueOf(nullptr, "n"), nullptr);
    EXPECT_EQ(PH_valueOf(p.get(), nullptr), nullptr);
    int n = 7;
    EXPECT_EQ(PH_fields(nullptr, &n), nullptr);
    EXPECT_EQ(n, 0);
    n = 7;
    EXPECT_EQ(PH_build_packet(nullptr, &n), nullptr);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(PH_build_packet_no_id(nullptr, nullptr), nullptr);
    EXPECT_NE(PH_fields(p.get(), nullptr), nullptr);
    PH_destroy(nullptr);
    const PacketPtr from_null(PH_create(nullptr, 10));
    ASSERT_NE(from_null, nullptr);
    EXPECT_EQ(FieldsOf(from_null.get()), Fields{});
}

TEST_F(PacketTest, EmptyFrameIsAPacketWithoutFields) {
    vantiro::FrameDecoder decoder;
    decoder.Feed("00000000\n");
    const auto body = decoder.Pop();
    ASSERT_TRUE(body.has_value());
    const PacketPtr p(PH_create(body->c_str(), static_cast<int>(body->size())));
    EXPECT_EQ(FieldsOf(p.get()), Fields{});
    EXPECT_EQ(BuildNoId(p.get()), "");
}

TEST_F(PacketTest, IdIsAddedOnceAndKept) {
    PacketPtr p(PH_create_empty());
    PH_add(p.get(), "command", "heartbeat");
    EXPECT_EQ(BuildNoId(p.get()), "command:heartbeat\n");
    EXPECT_EQ(PH_valueOf(p.get(), "id"), nullptr);

    int length = 0;
    const std::string text = PH_build_packet(p.get(), &length);
    const std::string id = PH_valueOf(p.get(), "id");
    EXPECT_FALSE(id.empty());
    EXPECT_LE(id.size(), 67u);
    EXPECT_EQ(text, "id:" + id + "\ncommand:heartbeat\n");
    EXPECT_EQ(PH_build_packet(p.get(), nullptr), text);  // a rebuild keeps the id

    // An answer keeps the id its text carries.
    const PacketPtr answer = Parse("result:ok\nid:request-17\n");
    EXPECT_STREQ(PH_build_packet(answer.get(), nullptr), "result:ok\nid:request-17\n");
}

TEST_F(PacketTest, IdsAreUniqueAcrossThreads) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<std::string>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ids, t] {
            for (int i = 0; i < kPerThread; ++i) {
                PacketPtr p(PH_create_empty());
                PH_add(p.get(), "command", "call_hold");
                PH_build_packet(p.get(), nullptr);
                ids[static_cast<std::size_t>(t)].emplace_back(PH_valueOf(p.get(), "id"));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<std::string> unique;
    for (const auto& list : ids) {
        for (const auto& id : list) {
            EXPECT_LE(id.size(), 67u);
            EXPECT_EQ(id.find_first_of(":\n"), std::string::npos);
            unique.insert(id);
        }
    }
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

}  // namespace
