// How the module marks its entry points for export: the module is built with hidden
// visibility, and these are its whole exported interface.
#pragma once

#define VANTIRO_EXPORT extern "C" __attribute__((visibility("default")))
