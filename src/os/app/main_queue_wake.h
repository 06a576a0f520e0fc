// How the main thread learns that functions are queued for it, as each platform
// does it: on Linux an eventfd that the host's loop polls (Application::WakeFd); on
// Windows a message posted to a message-only window of the main thread, which the
// host's message loop dispatches and whose window runs what is queued. The backend
// also defines Application::SignalWake and Application::DrainWake.
#pragma once

namespace qmos::detail {

// Made once, by the application object on the thread that creates it: the
// descriptor the host's loop polls, or -1 where there is none.
int MakeQueueWake();

// The main thread is now the calling one (Application::SetMainThread); the
// application signals the wake-up again afterwards when something is queued.
void MoveQueueWakeToThisThread();

}  // namespace qmos::detail
