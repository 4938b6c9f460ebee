// Opens arbitrary bytes as a soundpack archive and walks it as the registry
// does: metadata, then every entry's name and content. Every reference the
// reader hands out must lie inside the bytes it read; the sanitizers catch
// any read outside them.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "src/zu_bytes.h"
#include "store/zurfile.h"

namespace {

// The reader takes a path: each input goes through one scratch file.
const char *scratch_path() {
    static char path[64] = "";
    if (!path[0]) {
        const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        snprintf(path, sizeof path, "%s/fuzz_zurfile_XXXXXX", dir);
        int fd = mkstemp(path);
        if (fd < 0) abort();
        close(fd);
        atexit([] { unlink(scratch_path()); });
    }
    return path;
}

bool inside(const zurfile *z, const void *p, size_t n) {
    const uint8_t *b = (const uint8_t *)p;
    return b >= z->data && b <= z->data + z->file_size && (size_t)(z->data + z->file_size - b) >= n;
}

volatile uint32_t sink;

// Writes the bytes to the scratch file, opens them and walks every entry.
void open_and_walk(const uint8_t *data, size_t size) {
    FILE *f = fopen(scratch_path(), "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    fclose(f);

    zurfile *z = nullptr;
    int rc = zurfile_open(scratch_path(), &z);
    if (rc != 0) {
        if (z != nullptr || rc > -1 || rc < -5) abort();
        return;
    }
    spk_meta meta;
    if (zurfile_get_spk_meta(z, &meta) != 0) abort();
    size_t name_len = strlen(meta.soundpack_name);
    if (name_len && !inside(z, meta.soundpack_name, name_len + 1)) abort();

    uint32_t steps = 0;
    for (;;) {
        rc = zurfile_advance(z);
        if (rc == -3) break;
        if ((rc != 0 && rc != -2) || ++steps > z->entry_count) abort();
        const char *name = zurfile_get_filename(z);
        const uint8_t *content = zurfile_get_file_contents(z);
        uint32_t n = zurfile_get_file_size(z);
        if (name && !inside(z, name, strlen(name) + 1)) abort();
        if (content && !inside(z, content, n)) abort();
        if (!content && n != 0) abort();
        if (rc == 0 && (!name || !content)) abort();
        uint32_t sum = 0;
        for (uint32_t i = 0; i < n; i++) sum += content[i];
        sink = sum;
    }
    if (zurfile_advance(z) != -3) abort();
    if (zurfile_close(z) != 0) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    open_and_walk(data, size);

    // Mutations rarely keep the entry-table sum right; a second pass with the
    // sum repaired lets them reach the metadata and the entry walk.
    if (size < ZURFILE_HEADER_SIZE) return 0;
    uint32_t table = ZURFILE_HEADER_SIZE + (rd_u16(data + 16) & ZURFILE_METADATA_LEN_MASK);
    uint32_t table_len = rd_u16(data + 12);
    if ((size_t)table + table_len > size) return 0;
    uint32_t sum = adler32(data + table, table_len);
    if (sum == rd_u32(data + 8)) return 0;
    uint8_t *fixed = (uint8_t *)malloc(size);
    if (!fixed) abort();
    memcpy(fixed, data, size);
    for (int i = 0; i < 4; i++) fixed[8 + i] = (uint8_t)(sum >> (24 - 8 * i));
    open_and_walk(fixed, size);
    free(fixed);
    return 0;
}
