// Big-endian readers of unaligned bytes. Every engine file format (archives,
// model blobs, decoder sections) is big-endian and read through these.
#ifndef ZU_BYTES_H
#define ZU_BYTES_H

#include <stdint.h>

uint32_t rd_u32(const uint8_t *p);  // p[0]*2^24 + p[1]*2^16 + p[2]*2^8 + p[3]
int32_t rd_i32(const uint8_t *p);   // rd_u32 reinterpreted as two's complement
uint16_t rd_u16(const uint8_t *p);  // p[0]*2^8 + p[1]
int16_t rd_i16(const uint8_t *p);   // rd_u16 reinterpreted as two's complement

#endif
