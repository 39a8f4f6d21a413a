// File access shared by the settings file and the parameter files. Every operation goes
// through os/platform.h, the one door to the operating system, where the fault simulation
// can make it fail. Reads are checked for length; writes never change a file in place: its
// new content goes whole into a new temporary file beside it, created under a name of its
// own that no other file or link has, which takes the file's place only after every byte
// was written and it was closed. A failure at any point leaves the file exactly as it was
// and removes the temporary file.
#ifndef PELMAR_STORAGE_STORAGEFILE_H
#define PELMAR_STORAGE_STORAGEFILE_H

#include <cstddef>
#include <cstdio>

// Bytes laid over a file's content at an offset.
struct FilePatch {
  long offset;                 // where the bytes go, counted from the file's start
  const unsigned char *bytes;  // count bytes
  size_t count;
};

// fopen, fclose and remove, each one file operation of the fault simulation.
FILE *OpenStorageFile(const char *name, const char *mode);
int CloseStorageFile(FILE *file);  // 0, or 1 when the close failed
int RemoveStorageFile(const char *name);  // 0, or 1 when the file is still there

// Length of an open file in bytes, or -1 when it cannot be told.
long FileLength(FILE *file);

// Reads count bytes at offset. Returns 0, or 1 when the file does not hold them all.
int ReadFileAt(FILE *file, long offset, unsigned char *bytes, size_t count);

// Gives name its new content: its present bytes (keep 1) or none (keep 0), with each
// patch laid over them; bytes between the old end and a patch behind it are zero. The
// file keeps its length unless a patch reaches past it. With keep 1 the file must exist.
// Returns 0, or 1 when nothing changed: the file could not be read, or it exists but
// cannot be written, or writing, closing or replacing failed.
int RewriteFile(const char *name, int keep, const FilePatch *patches, int patchCount);


#endif
