// The engine's file layer: every file the engine reads (soundpack archives,
// standalone model files, the JSON configuration) goes through these calls.
// A file is a buffered standard I/O stream opened for reading in binary mode.
// The calls assert their preconditions; no input data can reach the
// assertions, only a caller that breaks the contract.
#ifndef ZU_FILE_H
#define ZU_FILE_H

#include <stdint.h>
#include <stdio.h>

#define ZU_FILE_READ 1  // the only mode: read, binary

// Opens path with mode "rb" and stores the stream (or none) in *fd.
// Returns 0 when opened, -1 when not.
int zu_file_open(const char *path, int mode, FILE **fd);

// Size of the file in bytes; the position is left at the end. 0 when the
// position cannot be moved or read, and for a size that does not fit 32 bits.
uint32_t zu_file_size(FILE *fd);

// Reads size bytes from offset into a new heap buffer and returns it (the name
// follows memory mapping, but the bytes are copied). None when memory is short
// or fewer than size bytes can be read. Release with zu_file_munmap.
void *zu_file_mmap(FILE *fd, uint32_t size, uint32_t offset);

// Releases a buffer from zu_file_mmap; returns 0. size is not needed.
int zu_file_munmap(void *buffer, uint32_t size);

// Closes the stream; returns the result of fclose.
int zu_file_close(FILE *fd);

#endif
