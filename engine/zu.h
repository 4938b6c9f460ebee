/* Public interface of the sound-recognition engine. Usable from C and C++. */
#ifndef ZU_H
#define ZU_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Signed 16.16 fixed point: value = raw / 65536. Levels (dB), trigger levels,
 * thresholds, sensitivities and scores cross the interface in this form. */
typedef int32_t fix16;

#ifdef __cplusplus
}
#endif

#endif /* ZU_H */
