// In-process tests of mcsim's rules that are hard to reach from outside: the
// --mailbox syntax, relative expiry days, and which fault a request meets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "expiry_date.h"
#include "fault_plan.h"
#include "options.h"

namespace mcsim {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;

TEST(MailboxSpec, SplitsProfilePasswordAndPreferences) {
    std::string error;
    auto mailbox = ParseMailboxSpec("1234:pw\\sx:first_time_user=yes,pwd_expiry=+5,note=", error);
    ASSERT_TRUE(mailbox) << error;
    EXPECT_EQ(mailbox->profile, "1234");
    EXPECT_EQ(mailbox->password, "pw x");
    EXPECT_THAT(mailbox->prefs, ElementsAre(Pair("first_time_user", "yes"), Pair("pwd_expiry", "+5"),
                                         Pair("note", "")));

    mailbox = ParseMailboxSpec("42:", error);  // an empty password, no preferences
    ASSERT_TRUE(mailbox) << error;
    EXPECT_EQ(mailbox->password, "");
    EXPECT_TRUE(mailbox->prefs.empty());

    for (const char* bad : {"nocolon-hush", ":hush", "1:hush:novalue", "1:hush:=v", "1:hush:a=\\q",
                            "1:hu\\qsh", "1:hush:a=1,,b=2"}) {
        EXPECT_FALSE(ParseMailboxSpec(bad, error)) << bad;
        EXPECT_THAT(error, Not(HasSubstr("hush"))) << bad;
    }
}

TEST(ExpiryDate, OnlySignedDayCountsAndZeroAreRelative) {
    const struct {
        const char* value;
        std::optional<int> days;
    } cases[] = {{"+5", 5},         {"-3", -3},          {"0", 0},
                 {"+0", 0},         {"+100000", 100000}, {"+100001", std::nullopt},
                 {"5", std::nullopt}, {"20250131", std::nullopt}, {"+", std::nullopt},
                 {"+-5", std::nullopt}, {"+5d", std::nullopt}, {"", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(RelativeDays(c.value), c.days) << c.value;

    // 2024-02-28 12:00 local: across a leap day and a year end.
    std::tm noon{};
    noon.tm_year = 124;
    noon.tm_mon = 1;
    noon.tm_mday = 28;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const std::time_t now = std::mktime(&noon);
    EXPECT_EQ(AnsweredValue("pwd_expiry", "+1", now), "20240229");
    EXPECT_EQ(AnsweredValue("pwd_expiry", "+2", now), "20240301");
    EXPECT_EQ(AnsweredValue("pwd_expiry", "-59", now), "20231231");
    EXPECT_EQ(AnsweredValue("pwd_expiry", "20991231", now), "20991231");
    EXPECT_EQ(AnsweredValue("pwd_expiry", "soon", now), "soon");
    EXPECT_EQ(AnsweredValue("other", "+1", now), "+1");
}

TEST(FaultPlan, OnceFaultsComeFirstThenTheCommandsOwnThenAny) {
    auto refuse = [](const char* result) { return Fault{FaultKind::kRefuse, result}; };
    auto take = [](FaultPlan& plan, const char* command) {
        const auto fault = plan.Take(command);
        return fault ? std::string(FaultName(fault->kind)) + ":" + fault->result : std::string("-");
    };
    FaultPlan plan;
    EXPECT_EQ(take(plan, "get_preferences"), "-");

    plan.Add(FaultTarget::kAny, refuse("any"), false);
    plan.Add(FaultTarget::kGet, refuse("get"), false);
    plan.Add(FaultTarget::kPut, Fault{FaultKind::kSilent, ""}, true);
    plan.Add(FaultTarget::kGet, Fault{FaultKind::kClose, ""}, true);
    EXPECT_EQ(take(plan, "get_preferences"), "close:");  // the once-fault for get
    EXPECT_EQ(take(plan, "get_preferences"), "refuse:get");
    EXPECT_EQ(take(plan, "other"), "refuse:any");
    EXPECT_EQ(take(plan, "put_preferences"), "silent:");  // used up ...
    EXPECT_EQ(take(plan, "put_preferences"), "refuse:any");  // ... then the lasting one

    plan.Add(FaultTarget::kGet, refuse("get2"), false);  // replaces the lasting one
    EXPECT_EQ(take(plan, "get_preferences"), "refuse:get2");
    plan.Clear();
    EXPECT_EQ(take(plan, "get_preferences"), "-");
    EXPECT_EQ(take(plan, "put_preferences"), "-");
}

}  // namespace
}  // namespace mcsim
