// A key-value table owned by a unique_ptr: destroyed with HT_destroy on every path.
#pragma once

#include <memory>

#include "hashtable.h"

namespace vantiro {

struct TableDeleter {
  void operator()(HASHTABLE* table) const { HT_destroy(table); }
};
using TablePtr = std::unique_ptr<HASHTABLE, TableDeleter>;

}  // namespace vantiro
