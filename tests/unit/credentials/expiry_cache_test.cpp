// The expiry date's reading and the days left; the preferences cache file's bytes.
#include <gtest/gtest.h>

#include <string>

#include "expiry/expiry_date.h"
#include "expiry/preferences_cache.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace {

using vantiro::CivilDate;

TEST(ExpiryDate, TextsBecomeDatesOrNothingAndDaysCountAcrossMonthsAndLeapYears) {
  const struct {
    const char *text, *dashed;
    int days;  // from 2024-02-28; 9999: no date
  } cases[] = {
      {"20501231", "2050-12-31", 9803}, {"20240229", "2024-02-29", 1},  {"20240301", "2024-03-01", 2},
      {"20240227", "2024-02-27", -1},   {"20240228", "2024-02-28", 0},  {"20230229", "2023-02-29", 9999},
      {"2024", "2024--", 9999},         {"", "--", 9999},                {"2024ab01", "2024-ab-01", 9999},
      {"202402281", "2024-02-281", 9999}, {"20241301", "2024-13-01", 9999},
  };
  const CivilDate today{2024, 2, 28};
  for (const auto& c : cases) {
    const std::string dashed = vantiro::DashedExpiry(c.text);
    EXPECT_EQ(dashed, c.dashed) << c.text;
    const auto date = vantiro::ParseDashedDate(dashed);
    EXPECT_EQ(date ? vantiro::DaysUntil(today, *date) : 9999, c.days) << c.text;
  }
}

TEST(PreferencesCache, EntriesAreWrittenWithFourCharacterLengthsAndTooLongOnesLeftOut) {
  EXPECT_EQ(vantiro::CacheNumber(0), "   0");
  EXPECT_EQ(vantiro::CacheNumber(9999), "9999");
  EXPECT_EQ(vantiro::CacheNumber(10000), "");

  HASHTABLE* table = HT_create(150, 0);
  HT_put_str(table, "a", "1");
  HT_put_str(table, "bc", "");
  testsupport::TempDir dir;
  const std::string path = dir.Path() + "/Preferences.start";
  testsupport::WriteFile(path, "an older cache that is longer than the new one");
  EXPECT_EQ(vantiro::WritePreferencesCache(path, table), 2);
  const std::string bytes = testsupport::ReadFile(path);
  ASSERT_EQ(bytes.size(), 24u);
  // The table lists its keys in an order of its own; the file follows it.
  const std::string a = "   1a   11", bc = "   2bc   0";
  EXPECT_TRUE(bytes == "   2" + a + bc || bytes == "   2" + bc + a) << bytes;

  HT_put_str(table, std::string(10000, 'k').c_str(), "v");
  HT_put_str(table, "long", std::string(10000, 'v').c_str());
  int written = 0;
  EXPECT_EQ(vantiro::PreferencesCacheBytes(table, &written).size(), 24u);
  EXPECT_EQ(written, 2);
  HT_destroy(table);

  // A folder that is not there: nothing written, reported.
  EXPECT_EQ(vantiro::WritePreferencesCache(dir.Path() + "/missing/Preferences.start", nullptr), -1);
}

}  // namespace
