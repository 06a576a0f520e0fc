/*
 * Version library: reads the version text that the build embeds in a module file
 * (an ELF section named ".qm_version" holding a NUL-terminated text; on Windows the
 * FileVersion string of the module's VERSIONINFO resource; see EmbedVersion.cmake).
 */
#ifndef VANTIRO_VERSION_H
#define VANTIRO_VERSION_H

#ifdef __cplusplus
extern "C" {
#endif

/* Copies the version text of the module file at `path` into `buffer`, cut to size - 1
 * characters and NUL-terminated. A file that is missing, unreadable, not a
 * little-endian 32- or 64-bit ELF file (on Windows: not a module), damaged, or without
 * the section (the resource) gives the empty text. Returns the number of characters
 * written before the terminator: 0 when there is no version. With a NULL buffer or
 * size <= 0 nothing is written and 0 is returned.
 * Never reads or writes outside the file's bytes and the buffer. */
int VER_getFileVersion(const char* path, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
