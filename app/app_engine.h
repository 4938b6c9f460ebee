// Bring-up of the sound-recognition engine for the application.
#ifndef APP_ENGINE_H
#define APP_ENGINE_H

// Switches the debug recording, then the engine's trace log. 1 on success.
int Enable_ZU_Logging(void);

#endif
