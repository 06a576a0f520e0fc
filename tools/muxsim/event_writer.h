// muxsim writes its events with the emulators' shared event writer.
#pragma once

#include "simcommon/event_writer.h"

namespace muxsim {

using simcommon::EventWriter;
using simcommon::Json;
using simcommon::OutputFormat;

}  // namespace muxsim
