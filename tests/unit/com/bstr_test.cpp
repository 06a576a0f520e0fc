#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "qmos/bstr.h"

using namespace qmos;

namespace {
std::uint32_t PrefixOf(BSTR b) {
  std::uint32_t n;
  std::memcpy(&n, reinterpret_cast<const char*>(b) - 4, 4);
  return n;
}
}  // namespace

TEST(Bstr, LayoutIsByteCountCharactersAndNul) {
  BSTR b = SysAllocString(u"abc");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(PrefixOf(b), 6u);
  EXPECT_EQ(SysStringLen(b), 3u);
  EXPECT_EQ(SysStringByteLen(b), 6u);
  EXPECT_EQ(b[3], u'\0');
  SysFreeString(b);

  BSTR zeros = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(zeros, nullptr);
  EXPECT_EQ(SysStringLen(zeros), 3u);
  EXPECT_EQ(zeros[0] | zeros[1] | zeros[2] | zeros[3], 0);
  SysFreeString(zeros);

  BSTR empty = SysAllocStringLen(u"", 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(PrefixOf(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, NullIsTheEmptyText) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(BstrToUtf8(nullptr), "");
  SysFreeString(nullptr);
  BSTR b = nullptr;
  EXPECT_TRUE(SysReAllocString(&b, u"x"));
  EXPECT_EQ(BstrToUtf8(b), "x");
  EXPECT_TRUE(SysReAllocString(&b, nullptr));
  EXPECT_EQ(b, nullptr);
}

TEST(Bstr, Utf8ConversionsRoundTrip) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"queue:mc_hold_call\n", u"queue:mc_hold_call\n"},
      {"caf\xC3\xA9 \xE2\x82\xAC", u"caf\u00E9 \u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},              // a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},              // the last code point
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},  // embedded NUL
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    Bstr b(c.utf8);
    EXPECT_EQ(b.Length(), c.utf16.size());
    EXPECT_EQ(b.Utf8(), c.utf8);
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80").size(), 2u);
}

TEST(Bstr, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"a\x80z", u"a\uFFFDz"},                  // stray continuation byte
      {"a\xC3", u"a\uFFFD"},                    // truncated at the end
      {"\xC3z", u"\uFFFDz"},                    // missing continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong form of '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xFF", u"\uFFFD"},
      {"\xE2\x82z", u"\uFFFDz"},                // truncated three-byte sequence
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << testing::PrintToString(c.in);
    // A string made straight from the bytes has the same units, its length and a NUL.
    Bstr b(c.in);
    EXPECT_EQ(std::u16string(BstrView(b.Get())), c.out) << testing::PrintToString(c.in);
    EXPECT_EQ(b.Get()[c.out.size()], u'\0');
  }
}

TEST(Bstr, LoneSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D)}), "\xEF\xBF\xBD");  // cut-off pair
}

TEST(Bstr, WrapperOwnsOneString) {
  Bstr a("hello");
  Bstr b = std::move(a);
  EXPECT_EQ(a.Get(), nullptr);
  EXPECT_EQ(b.Utf8(), "hello");

  Bstr copy = Bstr::Copy(b.Get());
  EXPECT_NE(copy.Get(), b.Get());
  EXPECT_EQ(copy.Utf8(), "hello");

  // Out() frees what was held before handing out the slot.
  *copy.Out() = SysAllocString(u"again");
  EXPECT_EQ(copy.Utf8(), "again");

  BSTR raw = b.Detach();
  EXPECT_EQ(b.Get(), nullptr);
  Bstr back = Bstr::Attach(raw);
  EXPECT_EQ(back.Utf8(), "hello");
  EXPECT_TRUE(Bstr().Empty());
  EXPECT_NE(Bstr("").Get(), nullptr);
}
