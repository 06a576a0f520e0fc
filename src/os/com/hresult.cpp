// Readable texts for result codes.
#include <cstdio>

#include "qmos/hresult.h"

namespace qmos {
namespace {

struct CodeText {
  HRESULT code;
  const char* name;
  const char* text;
};

constexpr CodeText kCodes[] = {
    {S_OK, "S_OK", "Success"},
    {S_FALSE, "S_FALSE", "Success (false)"},
    {E_NOTIMPL, "E_NOTIMPL", "Not implemented"},
    {E_NOINTERFACE, "E_NOINTERFACE", "No such interface supported"},
    {E_POINTER, "E_POINTER", "Invalid pointer"},
    {E_ABORT, "E_ABORT", "Operation aborted"},
    {E_FAIL, "E_FAIL", "Unspecified error"},
    {E_UNEXPECTED, "E_UNEXPECTED", "Catastrophic failure"},
    {E_ACCESSDENIED, "E_ACCESSDENIED", "Access denied"},
    {E_HANDLE, "E_HANDLE", "Invalid handle"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "Out of memory"},
    {E_INVALIDARG, "E_INVALIDARG", "The parameter is incorrect"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION", "Class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE",
     "Class factory cannot supply the requested class"},
    {REGDB_E_READREGDB, "REGDB_E_READREGDB", "Could not read the registry"},
    {REGDB_E_WRITEREGDB, "REGDB_E_WRITEREGDB", "Could not write to the registry"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", "Class not registered"},
    {SELFREG_E_TYPELIB, "SELFREG_E_TYPELIB", "Failed to register the type library"},
    {SELFREG_E_CLASS, "SELFREG_E_CLASS", "Failed to register the class"},
    {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED", "COM has not been initialised"},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", "Invalid class string"},
    {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND", "Server module not found"},
    {CO_E_ERRORINDLL, "CO_E_ERRORINDLL", "Error in the server module"},
    {DISP_E_UNKNOWNINTERFACE, "DISP_E_UNKNOWNINTERFACE", "Unknown interface"},
    {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND", "Member not found"},
    {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND", "Parameter not found"},
    {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH", "Type mismatch"},
    {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME", "Unknown name"},
    {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS", "No named arguments"},
    {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE", "Bad variable type"},
    {DISP_E_EXCEPTION, "DISP_E_EXCEPTION", "Exception occurred"},
    {DISP_E_OVERFLOW, "DISP_E_OVERFLOW", "Out of present range"},
    {DISP_E_BADINDEX, "DISP_E_BADINDEX", "Invalid index"},
    {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT", "Invalid number of parameters"},
    {DISP_E_PARAMNOTOPTIONAL, "DISP_E_PARAMNOTOPTIONAL", "Parameter not optional"},
    {TYPE_E_REGISTRYACCESS, "TYPE_E_REGISTRYACCESS", "Error accessing the registry"},
    {TYPE_E_LIBNOTREGISTERED, "TYPE_E_LIBNOTREGISTERED", "Library not registered"},
    {TYPE_E_ELEMENTNOTFOUND, "TYPE_E_ELEMENTNOTFOUND", "Element not found"},
    {TYPE_E_CANTLOADLIBRARY, "TYPE_E_CANTLOADLIBRARY", "Error loading the type library"},
};

}  // namespace

std::string HResultText(HRESULT hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  for (const auto& c : kCodes) {
    if (c.code == hr) return std::string(c.name) + " (" + hex + "): " + c.text;
  }
  return hex;
}

}  // namespace qmos
