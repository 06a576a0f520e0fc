// The table-driven late binding, exercised with the host-facing plug-in interfaces
// (IQMViewerPlugin, IQMViewerMenu) as a host calls them by name.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "counted_object.h"
#include "qmos/bstr.h"
#include "qmos/dispatch_table.h"
#include "qmos/error_info.h"

using namespace qmos;

namespace {

constexpr DISPID kInitialize = 0x60020000;
constexpr DISPID kTerminate = 0x60020001;
constexpr DISPID kHasGui = 0x60020002;
constexpr DISPID kPlugInInfo = 0x60020003;
constexpr DISPID kPublish = 0x60020004;
constexpr DISPID kGetMenuStructure = 0x60020000;
constexpr DISPID kMenuOptionSelected = 0x60020001;

// {7A3B1C9E-2D4F-4E61-8B0A-95C7D3E2F104}
constexpr IID kIidPlugin = {0x7A3B1C9E, 0x2D4F, 0x4E61, {0x8B, 0x0A, 0x95, 0xC7, 0xD3, 0xE2, 0xF1, 0x04}};

// Records what the table hands to the plug-in's methods.
struct FakePlugin {
  IUnknown* callback = nullptr;
  std::vector<std::pair<std::string, std::string>> published;
  std::vector<SHORT> menuIds;
  bool throwOnTerminate = false;

  DispatchTable plugin{{
      {"Initialize", kInitialize, {DispParam::InUnknown},
       [this](DispArgs& a) {
         if (!a.Unknown(0))
           return ReportError(E_POINTER, kIidPlugin, "VantiroPlugin.Vantiro", "no callback given");
         callback = a.Unknown(0);
         return S_OK;
       }},
      {"Terminate", kTerminate, {},
       [this](DispArgs&) -> HRESULT {
         if (throwOnTerminate) throw std::runtime_error("terminate broke");
         return S_OK;
       }},
      {"HasGUI", kHasGui, {}, [](DispArgs&) { return S_FALSE; }},
      {"PlugInInfo", kPlugInInfo,
       {DispParam::OutBstr, DispParam::OutBstr, DispParam::OutBstr, DispParam::OutBstr},
       [](DispArgs& a) {
         *a.OutBstr(0) = BstrFromUtf8("Vantiro Backend");
         *a.OutBstr(1) = BstrFromUtf8("Long text");
         *a.OutBstr(2) = BstrFromUtf8("1.0.0.1");
         *a.OutBstr(3) = BstrFromUtf8("");
         return S_OK;
       }},
      {"Publish", kPublish, {DispParam::InBstr, DispParam::InBstr},
       [this](DispArgs& a) {
         published.emplace_back(BstrToUtf8(a.Bstr(0)), BstrToUtf8(a.Bstr(1)));
         return S_OK;
       }},
  }};

  DispatchTable menu{{
      {"GetMenuStructure", kGetMenuStructure, {DispParam::OutBstr},
       [](DispArgs& a) {
         *a.OutBstr(0) = BstrFromUtf8("Connection\n");
         return S_OK;
       }},
      {"MenuOptionSelected", kMenuOptionSelected, {DispParam::InShort},
       [this](DispArgs& a) {
         menuIds.push_back(a.Short(0));
         return a.Short(0) == 1200 || a.Short(0) == 1201 || a.Short(0) == 1203 ? S_OK : S_FALSE;
       }},
  }};
};

DISPPARAMS Params(std::vector<VARIANT>& reversedArgs) {
  return DISPPARAMS{reversedArgs.data(), nullptr, static_cast<UINT>(reversedArgs.size()), 0};
}

HRESULT Call(const DispatchTable& t, DISPID id, std::vector<VARIANT> reversedArgs,
             EXCEPINFO* ex = nullptr, UINT* argErr = nullptr) {
  DISPPARAMS p = Params(reversedArgs);
  VARIANT result;
  HRESULT hr = t.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &p, &result, ex, argErr);
  for (auto& v : reversedArgs) VariantClear(&v);
  return hr;
}

DISPID IdOf(const DispatchTable& t, const char16_t* name) {
  std::u16string copy(name);
  LPOLESTR names[] = {copy.data()};
  DISPID id = 0;
  t.GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  return id;
}

void FreeExcepInfo(EXCEPINFO& e) {
  SysFreeString(e.bstrSource);
  SysFreeString(e.bstrDescription);
  SysFreeString(e.bstrHelpFile);
}

}  // namespace

TEST(DispatchTable, NamesResolveWithoutRegardToCase) {
  FakePlugin p;
  EXPECT_EQ(IdOf(p.plugin, u"Initialize"), kInitialize);
  EXPECT_EQ(IdOf(p.plugin, u"publish"), kPublish);
  EXPECT_EQ(IdOf(p.plugin, u"PLUGININFO"), kPlugInInfo);
  EXPECT_EQ(IdOf(p.menu, u"menuoptionselected"), kMenuOptionSelected);

  std::u16string unknown(u"Publis"), member(u"Publish"), param(u"queue");
  LPOLESTR one[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(p.plugin.GetIDsOfNames(IID_NULL, one, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  // A member name with a parameter name: the member resolves, the parameter does not.
  LPOLESTR two[] = {member.data(), param.data()};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(p.plugin.GetIDsOfNames(IID_NULL, two, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], kPublish);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(p.plugin.GetIDsOfNames(kIidPlugin, one, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST(DispatchTable, ArgumentsArriveInDeclarationOrderAfterCoercion) {
  FakePlugin p;
  // rgvarg holds the last argument first.
  EXPECT_EQ(Call(p.plugin, kPublish,
                 {VariantFromBstr(BstrFromUtf8("reason:abort\n")), VariantFromBstr(BstrFromUtf8("mc_logged_out"))}),
            S_OK);
  BSTR byRef = BstrFromUtf8("data\xC3\xA9");
  EXPECT_EQ(Call(p.plugin, kPublish, {VariantByRef(VT_BSTR, &byRef), VariantFromI4(42)}), S_OK);
  ASSERT_EQ(p.published.size(), 2u);
  EXPECT_EQ(p.published[0], std::make_pair(std::string("mc_logged_out"), std::string("reason:abort\n")));
  EXPECT_EQ(p.published[1], std::make_pair(std::string("42"), std::string("data\xC3\xA9")));
  EXPECT_EQ(BstrToUtf8(byRef), "data\xC3\xA9");  // an in-argument by reference is left alone
  SysFreeString(byRef);

  EXPECT_EQ(Call(p.menu, kMenuOptionSelected, {VariantFromI4(1203)}), S_OK);
  EXPECT_EQ(Call(p.menu, kMenuOptionSelected, {VariantFromBstr(BstrFromUtf8("1200"))}), S_OK);
  EXPECT_EQ(Call(p.menu, kMenuOptionSelected, {VariantFromI2(7)}), S_FALSE);  // success codes pass
  EXPECT_EQ(p.menuIds, (std::vector<SHORT>{1203, 1200, 7}));
  EXPECT_EQ(Call(p.plugin, kHasGui, {}), S_FALSE);

  com_test::CountedObject host;
  EXPECT_EQ(Call(p.plugin, kInitialize, {VariantFromDispatch(&host)}), S_OK);
  EXPECT_EQ(p.callback, static_cast<IUnknown*>(&host));
  EXPECT_EQ(host.refs, 1u);  // the argument's reference was dropped by the caller's clear
}

TEST(DispatchTable, OutStringsReplaceTheCallersValues) {
  FakePlugin p;
  BSTR shortText = BstrFromUtf8("previous value");  // freed by the call (ASan checks)
  BSTR longText = nullptr, version = nullptr;
  VARIANT tab;
  VariantInit(&tab);
  std::vector<VARIANT> args = {VariantByRef(VT_VARIANT, &tab), VariantByRef(VT_BSTR, &version),
                               VariantByRef(VT_BSTR, &longText), VariantByRef(VT_BSTR, &shortText)};
  DISPPARAMS params = Params(args);
  ASSERT_EQ(p.plugin.Invoke(kPlugInInfo, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                            nullptr, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(BstrToUtf8(shortText), "Vantiro Backend");
  EXPECT_EQ(BstrToUtf8(longText), "Long text");
  EXPECT_EQ(BstrToUtf8(version), "1.0.0.1");
  ASSERT_EQ(tab.vt, VT_BSTR);
  EXPECT_NE(tab.bstrVal, nullptr);
  EXPECT_EQ(SysStringLen(tab.bstrVal), 0u);
  SysFreeString(shortText);
  SysFreeString(longText);
  SysFreeString(version);
  VariantClear(&tab);

  BSTR menu = nullptr;
  EXPECT_EQ(Call(p.menu, kGetMenuStructure, {VariantByRef(VT_BSTR, &menu)}), S_OK);
  EXPECT_EQ(BstrToUtf8(menu), "Connection\n");
  SysFreeString(menu);
}

TEST(DispatchTable, BadCallsAreRefusedBeforeTheMethodRuns) {
  FakePlugin p;
  UINT argErr = 99;
  EXPECT_EQ(Call(p.plugin, kPublish, {VariantFromBstr(BstrFromUtf8("x"))}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(p.plugin, kHasGui, {VariantFromI4(1)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(p.plugin, 0x60020009, {}), DISP_E_MEMBERNOTFOUND);

  // The first argument (queue) is the last in rgvarg: index 1.
  com_test::CountedObject obj;
  EXPECT_EQ(Call(p.plugin, kPublish, {VariantFromBstr(BstrFromUtf8("x")), VariantFromDispatch(&obj)},
                 nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  EXPECT_EQ(Call(p.menu, kMenuOptionSelected, {VariantFromI4(70000)}, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(Call(p.menu, kMenuOptionSelected, {VariantFromBstr(BstrFromUtf8("12x"))}), DISP_E_TYPEMISMATCH);
  // An out-parameter passed by value cannot receive anything.
  EXPECT_EQ(Call(p.menu, kGetMenuStructure, {VariantFromBstr(nullptr)}, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  SHORT wrongTarget = 0;
  EXPECT_EQ(Call(p.menu, kGetMenuStructure, {VariantByRef(VT_I2, &wrongTarget)}), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(p.published.empty());
  EXPECT_TRUE(p.menuIds.empty());

  std::vector<VARIANT> args = {VariantFromI2(1200)};
  DISPID named = 0;
  DISPPARAMS withNames{args.data(), &named, 1, 1};
  EXPECT_EQ(p.menu.Invoke(kMenuOptionSelected, IID_NULL, 0, DISPATCH_METHOD, &withNames, nullptr,
                          nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  DISPPARAMS plain{args.data(), nullptr, 1, 0};
  EXPECT_EQ(p.menu.Invoke(kMenuOptionSelected, IID_NULL, 0, DISPATCH_PROPERTYPUT, &plain, nullptr,
                          nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(p.menu.Invoke(kMenuOptionSelected, kIidPlugin, 0, DISPATCH_METHOD, &plain, nullptr,
                          nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(p.menu.Invoke(kMenuOptionSelected, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr,
                          nullptr, nullptr),
            E_INVALIDARG);
}

TEST(DispatchTable, FailuresWithErrorInfoBecomeExceptions) {
  FakePlugin p;
  EXCEPINFO ex;
  EXPECT_EQ(Call(p.plugin, kInitialize, {VariantFromUnknown(nullptr)}, &ex), DISP_E_EXCEPTION);
  EXPECT_EQ(ex.scode, E_POINTER);
  EXPECT_EQ(BstrToUtf8(ex.bstrDescription), "no callback given");
  EXPECT_EQ(BstrToUtf8(ex.bstrSource), "VantiroPlugin.Vantiro");
  EXPECT_FALSE(HasErrorInfo());  // handed over into EXCEPINFO
  FreeExcepInfo(ex);

  // Without an EXCEPINFO the failure itself comes back and the error info stays.
  EXPECT_EQ(Call(p.plugin, kInitialize, {VariantFromUnknown(nullptr)}), E_POINTER);
  ErrorInfo info;
  ASSERT_EQ(GetErrorInfo(info), S_OK);
  EXPECT_EQ(info.iid, kIidPlugin);

  // C++ exceptions do not cross the interface.
  p.throwOnTerminate = true;
  EXPECT_EQ(Call(p.plugin, kTerminate, {}, &ex), DISP_E_EXCEPTION);
  EXPECT_EQ(ex.scode, E_FAIL);
  EXPECT_EQ(BstrToUtf8(ex.bstrDescription), "terminate broke");
  FreeExcepInfo(ex);

  // A failing out-call leaves the caller's target untouched.
  DispatchTable failing{{{"GetMenuStructure", kGetMenuStructure, {DispParam::OutBstr},
                          [](DispArgs& a) {
                            *a.OutBstr(0) = BstrFromUtf8("half-made");  // dropped by the table
                            return E_UNEXPECTED;
                          }}}};
  BSTR menu = BstrFromUtf8("mine");
  // Error info left over from before the call is not reported for it.
  ReportError(E_FAIL, IID_NULL, "stale", "stale");
  EXPECT_EQ(Call(failing, kGetMenuStructure, {VariantByRef(VT_BSTR, &menu)}, &ex), DISP_E_EXCEPTION);
  EXPECT_EQ(BstrToUtf8(menu), "mine");
  EXPECT_EQ(BstrToUtf8(ex.bstrDescription), HResultText(E_UNEXPECTED));
  FreeExcepInfo(ex);
  SysFreeString(menu);
}
