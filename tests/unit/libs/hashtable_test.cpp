#include "hashtable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>

namespace {

struct TableDeleter {
    void operator()(HASHTABLE* t) const { HT_destroy(t); }
};
using TablePtr = std::unique_ptr<HASHTABLE, TableDeleter>;

// The shape the sent-packet table stores.
struct Record {
    char command[128];
    char id[68];
    std::int32_t sentTime;
    std::uint16_t sentMillis;
};

std::string Key(int i) { return "key-" + std::to_string(i); }

TEST(HashtableTest, StringsAreCopiedReplacedAndRemoved) {
    TablePtr t(HT_create(30, 0));
    std::string key = "profile";
    std::string value = "12345";
    ASSERT_EQ(HT_put_str(t.get(), key.c_str(), value.c_str()), 0);
    key[0] = 'X';
    value[0] = 'X';
    EXPECT_STREQ(HT_get_str(t.get(), "profile"), "12345");

    EXPECT_EQ(HT_put_str(t.get(), "profile", "67890"), 0);
    EXPECT_STREQ(HT_get_str(t.get(), "profile"), "67890");
    // Re-storing the stored string itself keeps it intact.
    EXPECT_EQ(HT_put_str(t.get(), "profile", HT_get_str(t.get(), "profile")), 0);
    EXPECT_STREQ(HT_get_str(t.get(), "profile"), "67890");
    EXPECT_EQ(HT_put_str(t.get(), "", "empty key"), 0);
    EXPECT_STREQ(HT_get_str(t.get(), ""), "empty key");

    EXPECT_EQ(HT_remove(t.get(), "profile", 0), 0);
    EXPECT_EQ(HT_get_str(t.get(), "profile"), nullptr);
    EXPECT_EQ(HT_remove(t.get(), "profile", 0), -1);
    EXPECT_EQ(HT_get_str(t.get(), "never"), nullptr);
}

TEST(HashtableTest, BinaryValuesAreCopiesOfTheCallersBytes) {
    TablePtr t(HT_create(100, 0));
    Record record{};
    for (int i = 0; i < 3; ++i) {  // one stack buffer reused for every record
        std::snprintf(record.command, sizeof record.command, "command-%d", i);
        std::snprintf(record.id, sizeof record.id, "id-%d", i);
        record.sentTime = 1000 + i;
        record.sentMillis = static_cast<std::uint16_t>(999 - i);
        ASSERT_EQ(HT_put_binary(t.get(), record.id, &record, sizeof record), 0);
    }
    std::memset(&record, 0xAB, sizeof record);

    int count = 0;
    const auto* stored = static_cast<const Record*>(HT_get_binary(t.get(), "id-1", &count));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(count, static_cast<int>(sizeof(Record)));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(stored) % alignof(std::max_align_t), 0u);
    EXPECT_STREQ(stored->command, "command-1");
    EXPECT_EQ(stored->sentTime, 1001);
    EXPECT_EQ(stored->sentMillis, 998);

    // The pointer stays valid while the table grows around it.
    for (int i = 0; i < 10000; ++i) HT_put_str(t.get(), Key(i).c_str(), "v");
    EXPECT_EQ(HT_get_binary(t.get(), "id-1", nullptr), stored);
    EXPECT_STREQ(stored->id, "id-1");

    // An empty block is present, not absent.
    ASSERT_EQ(HT_put_binary(t.get(), "nothing", nullptr, 0), 0);
    count = -1;
    EXPECT_NE(HT_get_binary(t.get(), "nothing", &count), nullptr);
    EXPECT_EQ(count, 0);
}

TEST(HashtableTest, StringAndBinaryReadsDoNotMix) {
    TablePtr t(HT_create(1, 0));
    HT_put_str(t.get(), "s", "text");
    HT_put_binary(t.get(), "b", "bytes", 5);
    int count = 7;
    EXPECT_EQ(HT_get_binary(t.get(), "s", &count), nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(HT_get_str(t.get(), "b"), nullptr);
    // Replacing changes the kind.
    HT_put_str(t.get(), "b", "now text");
    EXPECT_STREQ(HT_get_str(t.get(), "b"), "now text");
}

TEST(HashtableTest, KeysCanBeRemovedOneByOneFromTheArray) {
    TablePtr t(HT_create(100, 0));
    std::set<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        HT_put_str(t.get(), Key(i).c_str(), "v");
        expected.insert(Key(i));
    }
    int count = 0;
    const char** keys = HT_keys(t.get(), &count);
    ASSERT_EQ(count, 300);
    EXPECT_EQ(keys[count], nullptr);
    EXPECT_EQ(std::set<std::string>(keys, keys + count), expected);

    // Removing each key of the array in turn, as the sent-packet table is cleared.
    for (int i = 0; i < count; ++i) EXPECT_EQ(HT_remove(t.get(), keys[i], 0), 0) << i;
    keys = HT_keys(t.get(), &count);
    EXPECT_EQ(count, 0);
    ASSERT_NE(keys, nullptr);
    EXPECT_EQ(keys[0], nullptr);
}

TEST(HashtableTest, GrowsToAMillionEntries) {
    constexpr int kEntries = 1'000'000;
    TablePtr t(HT_create(1, 0));
    for (int i = 0; i < kEntries; ++i) {
        ASSERT_EQ(HT_put_binary(t.get(), Key(i).c_str(), &i, sizeof i), 0);
    }
    for (int i = 0; i < kEntries; i += 2) ASSERT_EQ(HT_remove(t.get(), Key(i).c_str(), 0), 0);
    int count = 0;
    HT_keys(t.get(), &count);
    EXPECT_EQ(count, kEntries / 2);
    for (int i = 0; i < kEntries; ++i) {
        const void* bytes = HT_get_binary(t.get(), Key(i).c_str(), nullptr);
        if (i % 2 == 0) {
            ASSERT_EQ(bytes, nullptr) << i;
        } else {
            ASSERT_NE(bytes, nullptr) << i;
            int stored = 0;
            std::memcpy(&stored, bytes, sizeof stored);
            ASSERT_EQ(stored, i);
        }
    }
}

TEST(HashtableTest, BadArgumentsAreRefused) {
    TablePtr t(HT_create(-5, 0));
    ASSERT_NE(t, nullptr);
    TablePtr huge(HT_create(0x7fffffff, 0));
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(HT_put_str(nullptr, "k", "v"), -1);
    EXPECT_EQ(HT_put_str(t.get(), nullptr, "v"), -1);
    EXPECT_EQ(HT_put_str(t.get(), "k", nullptr), -1);
    EXPECT_EQ(HT_put_binary(t.get(), "k", "v", -1), -1);
    EXPECT_EQ(HT_put_binary(t.get(), "k", nullptr, 4), -1);
    EXPECT_EQ(HT_put_binary(nullptr, "k", "v", 1), -1);
    EXPECT_EQ(HT_get_str(nullptr, "k"), nullptr);
    EXPECT_EQ(HT_get_str(t.get(), nullptr), nullptr);
    EXPECT_EQ(HT_get_binary(t.get(), nullptr, nullptr), nullptr);
    EXPECT_EQ(HT_remove(nullptr, "k", 0), -1);
    EXPECT_EQ(HT_remove(t.get(), nullptr, 0), -1);
    int count = 3;
    EXPECT_EQ(HT_keys(nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
    HT_keys(t.get(), &count);
    EXPECT_EQ(count, 0);  // nothing was stored by the refused calls
    HT_destroy(nullptr);
}

}  // namespace
