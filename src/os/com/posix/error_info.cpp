// Per-thread error information. libqmos is loaded once per process, so one
// thread-local slot here is shared by the host and every module it loads.
#include "qmos/error_info.h"

#include <optional>
#include <utility>

namespace qmos {
namespace {

std::optional<ErrorInfo>& Slot() {
  thread_local std::optional<ErrorInfo> slot;
  return slot;
}

}  // namespace

void SetErrorInfo(ErrorInfo info) { Slot() = std::move(info); }

HRESULT GetErrorInfo(ErrorInfo& info) {
  auto& slot = Slot();
  if (!slot) {
    info = ErrorInfo{};
    return S_FALSE;
  }
  info = std::move(*slot);
  slot.reset();
  return S_OK;
}

void ClearErrorInfo() { Slot().reset(); }

bool HasErrorInfo() { return Slot().has_value(); }

}  // namespace qmos
