// Failing with error information, the same on every platform.
#include <utility>

#include "qmos/error_info.h"

namespace qmos {

HRESULT ReportError(HRESULT hr, REFIID iid, std::string source, std::string description) {
  ErrorInfo info;
  info.description = std::move(description);
  info.source = std::move(source);
  info.iid = iid;
  SetErrorInfo(std::move(info));
  return hr;
}

}  // namespace qmos
