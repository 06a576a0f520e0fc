/*
 * Key-value table library: string and byte-block values under string keys.
 * The table keeps its own copies of keys and values. It is not thread-safe: callers
 * that share a table between threads hold their own lock around every call.
 *
 * Lifetimes:
 *   HT_get_str / HT_get_binary   until that entry is replaced or removed, or HT_destroy.
 *   HT_keys    the array until the next HT_keys or HT_destroy (changes in between do
 *              not move or shorten it); each key in it until its entry is removed.
 *              So a caller may remove every key of the array in turn.
 * A string entry read with HT_get_binary, or a byte-block entry read with HT_get_str,
 * reads as absent (NULL).
 */
#ifndef VANTIRO_HASHTABLE_H
#define VANTIRO_HASHTABLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HT_Table HASHTABLE;

/* A new empty table sized for about sizeHint entries (it grows past that as needed;
 * a hint <= 0 gives a small table). flags is reserved: pass 0. NULL when memory runs out. */
HASHTABLE* HT_create(int sizeHint, int flags);

/* Stores a copy of key and the NUL-terminated value, replacing (and freeing) any earlier
 * value of the key. 0 on success, -1 for a NULL argument or no memory (the table is then
 * unchanged). */
int HT_put_str(HASHTABLE* t, const char* key, const char* value);

/* The stored string, or NULL when the key is absent or holds a byte block. */
const char* HT_get_str(HASHTABLE* t, const char* key);

/* Stores a copy of key and of `count` bytes, replacing (and freeing) any earlier value.
 * The stored bytes are aligned for any type. bytes may be NULL only when count is 0.
 * 0 on success, -1 for bad arguments (NULL table or key, count < 0) or no memory. */
int HT_put_binary(HASHTABLE* t, const char* key, const void* bytes, int count);

/* The stored bytes with their number in *count (may be NULL); NULL and *count 0 when
 * the key is absent or holds a string. A stored empty block gives a non-NULL pointer. */
const void* HT_get_binary(HASHTABLE* t, const char* key, int* count);

/* The keys, in no particular order, followed by a NULL entry; *count (may be NULL) gets
 * their number. Owned by the table: the caller does not free it. NULL for a NULL table. */
const char** HT_keys(HASHTABLE* t, int* count);

/* Removes the entry and frees its copies. flags is reserved: pass 0.
 * 0 when an entry was removed, -1 when the key was absent (or an argument NULL). */
int HT_remove(HASHTABLE* t, const char* key, int flags);

/* Frees the table and all its entries. NULL is fine. */
void HT_destroy(HASHTABLE* t);

#ifdef __cplusplus
}
#endif

#endif
