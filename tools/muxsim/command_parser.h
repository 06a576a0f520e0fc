// muxsim reads its commands with the emulators' shared command language.
#pragma once

#include "simcommon/command_parser.h"

namespace muxsim {

using simcommon::Command;
using simcommon::DescribeBytes;
using simcommon::FieldList;
using simcommon::ParseCommand;
using simcommon::ParseCount;
using simcommon::ParseFieldWords;
using simcommon::Unescape;

}  // namespace muxsim
