// How the module marks its entry points for export: VantiroPlugin.def names them,
// undecorated (on 32-bit Windows too), and they are the module's whole exported
// interface.
#pragma once

#define VANTIRO_EXPORT extern "C"
