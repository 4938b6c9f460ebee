#include "src/zu_file.h"

#include <stdlib.h>

// The layer's assertions stay active in every build: they are cheap and guard
// the contract with the engine's own callers.
static void zu_file_assert_failed(const char *expr, int line) {
    fprintf(stderr, "src/zu_file.cpp:%d: assertion failed: %s\n", line, expr);
    abort();
}

#define ZU_FILE_ASSERT(expr) ((expr) ? (void)0 : zu_file_assert_failed(#expr, __LINE__))

int zu_file_open(const char *path, int mode, FILE **fd) {
    ZU_FILE_ASSERT(mode == ZU_FILE_READ);
    ZU_FILE_ASSERT(path);
    ZU_FILE_ASSERT(fd);
    *fd = fopen(path, "rb");
    return *fd ? 0 : -1;
}

uint32_t zu_file_size(FILE *fd) {
    ZU_FILE_ASSERT(fd);
    if (fseek(fd, 0, SEEK_END) != 0) return 0;
    long end = ftell(fd);
    // A negative position is a failure; a size beyond 32 bits cannot be held
    // by any caller and is reported as a failure too, never truncated.
    if (end < 0 || (unsigned long)end > UINT32_MAX) return 0;
    return (uint32_t)end;
}

void *zu_file_mmap(FILE *fd, uint32_t size, uint32_t offset) {
    ZU_FILE_ASSERT(fd);
    // malloc(0) may answer none; one byte keeps "none" meaning "failed".
    void *buffer = malloc(size ? size : 1);
    if (!buffer) return nullptr;
    if (fseek(fd, (long)offset, SEEK_SET) != 0 || fread(buffer, 1, size, fd) != size) {
        free(buffer);
        return nullptr;
    }
    return buffer;
}

int zu_file_munmap(void *buffer, uint32_t size) {
    (void)size;
    free(buffer);
    return 0;
}

int zu_file_close(FILE *fd) {
    ZU_FILE_ASSERT(fd);
    return fclose(fd);
}
