// Build data of sonivaleGlassBreak.
#include "app_build.h"

static const char *const sound_packs[] = {"glass_break.spk"};
static const char *const demo_sound_packs[] = {"glass_break_test.spk"};
static const char *const event_names[] = {"Plate_Glassbreak", "Tempered_Glassbreak"};

const app_build_data app_build = {
    "sonivaleGlassBreak",
    "/var/log/sonivaleGlassBreak.log",
    1,
    sound_packs,
    demo_sound_packs,
    event_names,
    (int32_t)(sizeof event_names / sizeof event_names[0]),
    APP_EVENT_KEY_MID,
};
