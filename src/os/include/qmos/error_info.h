// Per-thread error information: what a failing COM call leaves for its caller to
// pick up, in the manner of SetErrorInfo/GetErrorInfo. Each thread has one slot;
// setting replaces it, getting hands it over and empties it.
#pragma once

#include <string>

#include "qmos/guid.h"

namespace qmos {

struct ErrorInfo {
  std::string description;  // UTF-8
  std::string source;       // usually the ProgID of the class that failed
  GUID iid = GUID_NULL;     // the interface whose method failed
  std::string helpFile;
  DWORD helpContext = 0;
};

// Stores info as the calling thread's error information, replacing any earlier one.
void SetErrorInfo(ErrorInfo info);
// Moves the calling thread's error information into info and clears the slot.
// S_OK when there was one, S_FALSE (info reset to empty) when there was none.
HRESULT GetErrorInfo(ErrorInfo& info);
// Drops the calling thread's error information.
void ClearErrorInfo();
// True when the calling thread holds error information (without taking it).
bool HasErrorInfo();

// Convenience for methods that fail: sets the error information and returns hr.
HRESULT ReportError(HRESULT hr, REFIID iid, std::string source, std::string description);

}  // namespace qmos
