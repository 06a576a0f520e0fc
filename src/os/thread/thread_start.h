// The part of TThread that each platform does its own way: starting a detached
// system thread. CurrentThreadId (qmos/thread.h) is defined beside it.
#pragma once

namespace qmos::detail {

// Starts a system thread that runs procedure(argument) and frees its own resources
// when it returns. False when no thread could be started (procedure never runs).
bool StartDetachedThread(void (*procedure)(void*), void* argument);

}  // namespace qmos::detail
