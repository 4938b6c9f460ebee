// Build data of sonivaleGunshot.
#include "app_build.h"

static const char *const sound_packs[] = {"gunshot.spk"};
static const char *const demo_sound_packs[] = {"gunshot_test.spk"};
static const char *const event_names[] = {"Gunshot", "Audio_Saturation"};

const app_build_data app_build = {
    "sonivaleGunshot",
    "/var/log/sonivaleGunshot.log",
    1,
    sound_packs,
    demo_sound_packs,
    event_names,
    (int32_t)(sizeof event_names / sizeof event_names[0]),
    APP_EVENT_KEY_MID,
};
