// Build data of sonivaleCarAlarm.
#include "app_build.h"

static const char *const sound_packs[] = {"car_alarm.spk"};
static const char *const demo_sound_packs[] = {"car_alarm_test.spk"};
static const char *const event_names[] = {
    "Car_Alarm_Cleensaw", "Car_Alarm_Fuzzedsaw", "Car_Alarm_Reversesaw", "Car_Alarm_Singletone",
    "Car_Alarm_Tonerise", "Car_Alarm_Tophat",    "Car_Alarm_Twotone"};

const app_build_data app_build = {
    "sonivaleCarAlarm",
    "/var/log/sonivaleCarAlarm.log",
    1,
    sound_packs,
    demo_sound_packs,
    event_names,
    (int32_t)(sizeof event_names / sizeof event_names[0]),
    APP_EVENT_KEY_MID,
};
