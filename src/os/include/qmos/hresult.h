// COM base types and result codes, with the values they have on Windows, so that
// code written against the Windows headers reads and behaves the same here.
#pragma once

#include <cstdint>
#include <string>

// The calling convention of COM interface methods and of the module's entry points:
// __stdcall on 32-bit Windows, where the build defines it; the platform's own
// convention everywhere else.
#ifndef QMOS_COM_CALL
#define QMOS_COM_CALL
#endif

namespace qmos {

using HRESULT = std::int32_t;
using SCODE = HRESULT;
using BYTE = std::uint8_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using LCID = DWORD;
using DISPID = LONG;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// A length-prefixed UTF-16 string (see bstr.h); null stands for the empty text.
using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

namespace detail {
constexpr HRESULT Code(std::uint32_t value) { return static_cast<HRESULT>(value); }
}  // namespace detail

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT NOERROR = 0;

constexpr HRESULT E_NOTIMPL = detail::Code(0x80004001);
constexpr HRESULT E_NOINTERFACE = detail::Code(0x80004002);
constexpr HRESULT E_POINTER = detail::Code(0x80004003);
constexpr HRESULT E_ABORT = detail::Code(0x80004004);
constexpr HRESULT E_FAIL = detail::Code(0x80004005);
constexpr HRESULT E_UNEXPECTED = detail::Code(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = detail::Code(0x80070005);
constexpr HRESULT E_HANDLE = detail::Code(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = detail::Code(0x8007000E);
constexpr HRESULT E_INVALIDARG = detail::Code(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = detail::Code(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = detail::Code(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = detail::Code(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = detail::Code(0x80040151);
constexpr HRESULT REGDB_E_CLASSNOTREG = detail::Code(0x80040154);
constexpr HRESULT SELFREG_E_TYPELIB = detail::Code(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = detail::Code(0x80040201);
constexpr HRESULT CO_E_NOTINITIALIZED = detail::Code(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = detail::Code(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = detail::Code(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = detail::Code(0x800401F9);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = detail::Code(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = detail::Code(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = detail::Code(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = detail::Code(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = detail::Code(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = detail::Code(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = detail::Code(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = detail::Code(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = detail::Code(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = detail::Code(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = detail::Code(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = detail::Code(0x8002000F);

constexpr HRESULT TYPE_E_REGISTRYACCESS = detail::Code(0x8002801C);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = detail::Code(0x8002801D);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = detail::Code(0x8002802B);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = detail::Code(0x80029C4A);

// A Win32 error code as an HRESULT of FACILITY_WIN32; 0 and negative values pass.
constexpr HRESULT HRESULT_FROM_WIN32(long error) {
  return error <= 0 ? static_cast<HRESULT>(error)
                    : detail::Code((static_cast<std::uint32_t>(error) & 0xFFFFu) | (7u << 16) |
                                   0x80000000u);
}

// A short readable text for a result code, e.g.
// "E_NOINTERFACE (0x80004002): No such interface supported".
// Codes without a name read as "0x80070002" (hex, eight digits).
std::string HResultText(HRESULT hr);

}  // namespace qmos

#define SUCCEEDED(hr) (static_cast<::qmos::HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<::qmos::HRESULT>(hr) < 0)
