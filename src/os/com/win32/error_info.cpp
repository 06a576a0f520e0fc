// Per-thread error information through the system's error objects (oleaut32), so
// that a script host or any other COM caller reads what a failing method left.
#include "core/wide_text.h"
#include "qmos/bstr.h"
#include "qmos/error_info.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>
#include <oleauto.h>

namespace qmos {
namespace {

// The text of a BSTR the system handed over, which is then freed.
std::string TakeText(::BSTR text) {
  std::string utf8 = BstrToUtf8(reinterpret_cast<BSTR>(text));
  ::SysFreeString(text);
  return utf8;
}

// Takes the thread's error object (null when there is none).
::IErrorInfo* TakeErrorObject() {
  ::IErrorInfo* object = nullptr;
  if (::GetErrorInfo(0, &object) != S_OK) return nullptr;
  return object;
}

}  // namespace

void SetErrorInfo(ErrorInfo info) {
  ::ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || !create) return;
  std::wstring description = detail::WideFromUtf8(info.description);
  std::wstring source = detail::WideFromUtf8(info.source);
  std::wstring helpFile = detail::WideFromUtf8(info.helpFile);
  create->SetDescription(description.data());
  create->SetSource(source.data());
  create->SetGUID(reinterpret_cast<const ::GUID&>(info.iid));
  create->SetHelpFile(helpFile.data());
  create->SetHelpContext(info.helpContext);
  ::IErrorInfo* object = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&object)))) {
    ::SetErrorInfo(0, object);
    object->Release();
  }
  create->Release();
}

HRESULT GetErrorInfo(ErrorInfo& info) {
  info = ErrorInfo{};
  ::IErrorInfo* object = TakeErrorObject();
  if (!object) return S_FALSE;
  ::BSTR text = nullptr;
  if (SUCCEEDED(object->GetDescription(&text))) info.description = TakeText(text);
  text = nullptr;
  if (SUCCEEDED(object->GetSource(&text))) info.source = TakeText(text);
  text = nullptr;
  if (SUCCEEDED(object->GetHelpFile(&text))) info.helpFile = TakeText(text);
  object->GetGUID(reinterpret_cast<::GUID*>(&info.iid));
  object->GetHelpContext(reinterpret_cast<::DWORD*>(&info.helpContext));
  object->Release();
  return S_OK;
}

void ClearErrorInfo() { ::SetErrorInfo(0, nullptr); }

bool HasErrorInfo() {
  // The system hands the object over when asked: it is put back at once.
  ::IErrorInfo* object = TakeErrorObject();
  if (!object) return false;
  ::SetErrorInfo(0, object);
  object->Release();
  return true;
}

}  // namespace qmos
