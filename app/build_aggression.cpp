// Build data of sonivaleAggression.
#include "app_build.h"

static const char *const sound_packs[] = {"aggression.spk"};
static const char *const demo_sound_packs[] = {"aggression_test.spk"};
static const char *const event_names[] = {"Aggression"};

const app_build_data app_build = {
    "sonivaleAggression",
    "/var/log/sonivaleAggression.log",
    1,
    sound_packs,
    demo_sound_packs,
    event_names,
    (int32_t)(sizeof event_names / sizeof event_names[0]),
    APP_EVENT_KEY_MID,
};
