// Build data of sonivaleDemo.
#include "app_build.h"

static const char *const sound_packs[] = {"glass_break_test.spk", "gunshot_test.spk",
                                          "aggression_test.spk", "car_alarm_test.spk"};
static const char *const demo_sound_packs[] = {"glass_break_test.spk", "gunshot_test.spk",
                                               "aggression_test.spk", "car_alarm_test.spk"};
static const char *const event_names[] = {"Demo_Glassbreak", "Demo_Gunshot", "Demo_Aggression",
                                          "Demo_CarAlarm"};

const app_build_data app_build = {
    "sonivaleDemo",
    "/var/log/sonivaleDemo.log",
    4,
    sound_packs,
    demo_sound_packs,
    event_names,
    (int32_t)(sizeof event_names / sizeof event_names[0]),
    APP_EVENT_KEY_SPID,
};
