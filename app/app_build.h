// Build data: the few values that differ between the five programs. Each program
// links exactly one of app/build_<product>.cpp, which defines app_build.
#ifndef APP_BUILD_H
#define APP_BUILD_H

#include <stdint.h>

// Which field of an engine event record indexes event_names.
enum app_event_key { APP_EVENT_KEY_MID, APP_EVENT_KEY_SPID };

struct app_build_data {
    const char *app_name;                 // the program's name, also in event payloads
    const char *log_path;                 // "/var/log/" app_name ".log"
    int32_t num_soundpacks;               // length of both soundpack tables
    const char *const *sound_packs;       // file names under TK_APP_HOME
    const char *const *demo_sound_packs;  // used when UseDemoSoundpacks is non-zero
    const char *const *event_names;       // camera event names
    int32_t event_name_count;
    app_event_key event_key;
};

extern const app_build_data app_build;

#endif
