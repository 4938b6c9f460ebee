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

/* A detection or saturation event, as handed out by zu_get_frame_events and
 * queued inside the engine until then. */
typedef struct zu_event {
    int32_t end;            /* 0: start, 1: end */
    int32_t type;           /* 0: detection, 1: saturation */
    uint64_t time_ms;       /* milliseconds of audio since the instance was created */
    const char *model_name; /* the engine's text; none in saturation events */
    int32_t mid;            /* model index; 0 in saturation events */
    const char *sp_name;    /* soundpack name; none for saturation and file models */
    int32_t spid;           /* soundpack id; -1 for saturation and file models */
    fix16 last_score;       /* score of the frame before */
    fix16 score;            /* score of this frame */
    fix16 threshold;        /* model threshold; INT32_MIN in saturation events */
} zu_event;

#ifdef __cplusplus
}
#endif

#endif /* ZU_H */
