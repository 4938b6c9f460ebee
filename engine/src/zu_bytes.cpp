#include "src/zu_bytes.h"

uint32_t rd_u32(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

int32_t rd_i32(const uint8_t *p) { return (int32_t)rd_u32(p); }

uint16_t rd_u16(const uint8_t *p) { return (uint16_t)((unsigned)p[0] << 8 | (unsigned)p[1]); }

int16_t rd_i16(const uint8_t *p) { return (int16_t)rd_u16(p); }
