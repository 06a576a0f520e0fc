// The module's entry point for the system's loader. When COM unloads the module while
// the process goes on, OpenSSL, which is linked into it, is released here: it keeps
// no exit handler of its own in the module (see the TLS layer's library options).
// At the process's end nothing is released: the other threads are gone already and
// the system takes the memory back.
#include "tls/tls_context.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) vantiro::tls::ReleaseLibrary();
  return TRUE;
}
