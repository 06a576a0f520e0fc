/*
 * Packet library: dictionaries of text fields exchanged with the multiplexor and,
 * as queue data, with the host.
 *
 * Text form: one line per field, "name:value\n". Parsing splits a line at its first
 * colon, so values may hold colons. A value that holds line feeds is written over
 * several lines: every line after the first starts with one TAB, which parsing removes
 * (see docs/libraries.md for the full rules).
 *
 * Lifetimes (every pointer handed out is owned by the packet):
 *   PH_valueOf     until that field is replaced by PH_add, or PH_destroy.
 *   PH_fields      until the next PH_add or PH_fields on the packet, or PH_destroy;
 *                  each name until PH_destroy.
 *   PH_build_*     until the next PH_build_packet / PH_build_packet_no_id on the
 *                  packet, or PH_destroy.
 * A packet is not thread-safe by itself; different packets may be used on different
 * threads at the same time.
 */
#ifndef VANTIRO_PACKET_H
#define VANTIRO_PACKET_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct PH_Packet* PACKET;

/* Prepares the id source. Call before any other call; calling it again does nothing. */
void PH_init(void);

/* A new packet with the fields of the first `length` bytes of `text` (up to a NUL byte,
 * if any; a negative length means `text` is NUL-terminated; a NULL text gives a packet
 * without fields). NULL only when memory runs out. */
PACKET PH_create(const char* text, int length);

/* A new packet without fields. NULL only when memory runs out. */
PACKET PH_create_empty(void);

/* Adds a field, or replaces the value of an existing one in place (keeping its
 * position). Copies name and value. 0 on success; -1 for a NULL argument, an empty
 * name, a name holding ':' or a line feed or starting with a TAB, or no memory. */
int PH_add(PACKET p, const char* name, const char* value);

/* The value of the field, or NULL when the packet has no such field (never ""
 * for a missing one). */
const char* PH_valueOf(PACKET p, const char* name);

/* The field names in packet order, followed by a NULL entry; *count gets their number.
 * NULL (and *count 0) for a NULL packet. `count` may be NULL. */
const char** PH_fields(PACKET p, int* count);

/* The NUL-terminated text of the packet with an "id" field, and its length in
 * *length (may be NULL). A packet without "id" first gets a new one, unique within the
 * process and across processes, at most 67 characters, placed first; later builds keep
 * it, and a packet whose text or caller already gave it an "id" keeps that one.
 * NULL (and *length 0) for a NULL packet or no memory. */
const char* PH_build_packet(PACKET p, int* length);

/* The same text without adding an id (an "id" field already present is written like
 * any other field). */
const char* PH_build_packet_no_id(PACKET p, int* length);

/* Frees the packet and everything it handed out. NULL is fine. */
void PH_destroy(PACKET p);

#ifdef __cplusplus
}
#endif

#endif
