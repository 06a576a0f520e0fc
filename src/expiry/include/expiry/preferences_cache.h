// The preferences cache file, written after each successful fetch of the mailbox's
// preferences for other components to read: the number of entries, then per entry
// the key's length, the key, the value's length and the value, without separators.
// Every number is four characters, right-aligned and padded with blanks ("  12").
//
// A number that four characters cannot hold would corrupt the file for its readers:
// a key or value of 10000 bytes or more is left out with a trace line, and a table of
// 10000 entries or more is not written at all (the old cache stays). The file is
// written whole or not at all, readable by its owner only: into a fresh temporary
// file beside it under the cache's lock file, then renamed over the path, so that a
// failed write keeps the old cache.
#pragma once

#include <string>

#include "hashtable.h"

namespace vantiro {

// "   0" .. "9999"; empty for numbers that do not fit.
std::string CacheNumber(std::size_t number);

// The file's bytes for the string entries of table, in the order the table lists
// its keys; *written (may be null) gets the number of entries kept. Empty when that
// number does not fit its field.
std::string PreferencesCacheBytes(HASHTABLE* table, int* written = nullptr);

// Replaces the file at path (a Windows-form path) with the table's entries. The
// number of entries written, or -1 when the file could not be written (traced; the
// old file is then left as it was).
int WritePreferencesCache(const std::string& path, HASHTABLE* table);

}  // namespace vantiro
