// The preferences cache file, written after each successful fetch of the mailbox's
// preferences for other components to read: the number of entries, then per entry
// the key's length, the key, the value's length and the value, without separators.
// Every number is four characters, right-aligned and padded with blanks ("  12").
//
// A number that four characters cannot hold (a key or value of 10000 bytes or more)
// would corrupt the file for its readers: such an entry is left out with a trace
// line. The file is written whole or not at all: into a temporary file beside it,
// then renamed over the path.
#pragma once

#include <string>

#include "hashtable.h"

namespace vantiro {

// "   0" .. "9999"; empty for numbers that do not fit.
std::string CacheNumber(std::size_t number);

// The file's bytes for the string entries of table, in the order the table lists
// its keys; *written (may be null) gets the number of entries kept.
std::string PreferencesCacheBytes(HASHTABLE* table, int* written = nullptr);

// Deletes the file at path (a Windows-form path) and writes the table's entries
// there anew. The number of entries written, or -1 when the file could not be
// written (traced).
int WritePreferencesCache(const std::string& path, HASHTABLE* table);

}  // namespace vantiro
