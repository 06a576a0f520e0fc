#include <gtest/gtest.h>

#include <set>
#include <string>

#include "qmos/bstr.h"
#include "qmos/com.h"

using namespace qmos;

TEST(Guid, WellKnownIdentifiersHaveTheirRegistryText) {
  EXPECT_EQ(GuidToString(IID_IUnknown), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
  EXPECT_EQ(GuidToString(IID_IClassFactory), "{00000001-0000-0000-C000-000000000046}");
}

TEST(Guid, TextRoundTripsAndAcceptsEitherCase) {
  const GUID g = {0x89ABCDEF, 0x0123, 0xFEDC, {0xBA, 0x98, 0x76, 0x54, 0x32, 0x10, 0x0F, 0xA5}};
  const std::string text = "{89ABCDEF-0123-FEDC-BA98-765432100FA5}";
  EXPECT_EQ(GuidToString(g), text);
  ASSERT_TRUE(GuidFromString(text));
  EXPECT_EQ(*GuidFromString(text), g);
  auto lower = GuidFromString("{89abcdef-0123-fedc-ba98-765432100fa5}");
  ASSERT_TRUE(lower);
  EXPECT_EQ(*lower, g);

  CLSID parsed{};
  const std::u16string wide = GuidToU16String(g);
  EXPECT_EQ(CLSIDFromString(wide.c_str(), &parsed), S_OK);
  EXPECT_EQ(parsed, g);
}

TEST(Guid, MalformedTextIsRejected) {
  const char* bad[] = {
      "",
      "89ABCDEF-0123-FEDC-BA98-765432100FA5",      // no braces
      "{89ABCDEF-0123-FEDC-BA98-765432100FA5",     // no closing brace
      "{89ABCDEF-0123-FEDC-BA98-765432100FA5}x",   // trailing text
      " {89ABCDEF-0123-FEDC-BA98-765432100FA5}",   // leading blank
      "{89ABCDEF-0123-FEDC-BA98-76543210-FA5}",    // dash moved
      "{89ABCDEF0123-FEDC-BA98-76543210-0FA5}",    // dash missing
      "{89ABCDEG-0123-FEDC-BA98-765432100FA5}",   // not hex
      "{89ABCDEF-0123-FEDC-BA98-76543210 FA5}",    // blank inside
      "{+9ABCDEF-0123-FEDC-BA98-765432100FA5}",   // sign
      "(89ABCDEF-0123-FEDC-BA98-765432100FA5)",   // wrong brackets
  };
  for (const char* text : bad) {
    EXPECT_FALSE(GuidFromString(std::string_view(text))) << text;
    CLSID clsid{};
    std::u16string wide = Utf8ToUtf16(text);
    EXPECT_EQ(CLSIDFromString(wide.c_str(), &clsid), CO_E_CLASSSTRING) << text;
  }
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromString(nullptr, &clsid), E_INVALIDARG);
  // A non-ASCII character where a hex digit belongs.
  std::u16string wide = u"{89ABCDEF-0123-FEDC-BA98-76543210\u0660FA5}";
  EXPECT_EQ(CLSIDFromString(wide.c_str(), &clsid), CO_E_CLASSSTRING);
}

TEST(Guid, StringFromGuid2NeedsRoomForTheNul) {
  OLECHAR buffer[39];
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, buffer, 38), 0);
  EXPECT_EQ(StringFromGUID2(IID_IDispatch, buffer, 39), 39);
  EXPECT_EQ(std::u16string(buffer), u"{00020400-0000-0000-C000-000000000046}");
}

TEST(Guid, CreatedGuidsAreRandomVersionFour) {
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    GUID g{};
    ASSERT_EQ(CoCreateGuid(&g), S_OK);
    EXPECT_EQ(g.Data3 >> 12, 4);
    EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
    seen.insert(GuidToString(g));
  }
  EXPECT_EQ(seen.size(), 64u);
}

TEST(HResult, CodesKeepTheirWindowsValuesAndTexts) {
  EXPECT_EQ(static_cast<std::uint32_t>(DISP_E_EXCEPTION), 0x80020009u);
  EXPECT_EQ(static_cast<std::uint32_t>(E_NOINTERFACE), 0x80004002u);
  EXPECT_EQ(static_cast<std::uint32_t>(HRESULT_FROM_WIN32(2)), 0x80070002u);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_EQ(HResultText(REGDB_E_CLASSNOTREG), "REGDB_E_CLASSNOTREG (0x80040154): Class not registered");
  EXPECT_EQ(HResultText(HRESULT_FROM_WIN32(2)), "0x80070002");
}
