// The identities of the fake plug-in module the host tests load: two classes in one
// module. Class A offers a menu; class B does not. Both are driven through the
// queue "fake_control" (see fake_plugin.cpp).
#pragma once

#include "qmos/guid.h"

namespace host_test {

// {EB8B187D-FF0A-4741-8F76-46D04F7AAB1C}
constexpr qmos::CLSID kFakeClsidA = {0xEB8B187D, 0xFF0A, 0x4741,
                                     {0x8F, 0x76, 0x46, 0xD0, 0x4F, 0x7A, 0xAB, 0x1C}};
// {08088A61-AF2C-4138-A9DA-02A1787827A4}
constexpr qmos::CLSID kFakeClsidB = {0x08088A61, 0xAF2C, 0x4138,
                                     {0xA9, 0xDA, 0x02, 0xA1, 0x78, 0x78, 0x27, 0xA4}};
constexpr const char* kFakeClsidAText = "{EB8B187D-FF0A-4741-8F76-46D04F7AAB1C}";
constexpr const char* kFakeClsidBText = "{08088A61-AF2C-4138-A9DA-02A1787827A4}";
constexpr const char* kFakeProgIdA = "FakePlugin.A";
constexpr const char* kFakeProgIdB = "FakePlugin.B";
// A class nobody registered.
constexpr const char* kMissingClsidText = "{93F912D9-29C8-43E6-8EC8-AAF73C6DD767}";

}  // namespace host_test
