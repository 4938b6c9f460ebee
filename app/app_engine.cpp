#include "app_engine.h"

#include "app_audio.h"

int Enable_ZU_Logging(void) {
    Switch_Audio_Recording();
    // The engine trace switch follows here once the engine instance exists.
    return 1;
}
