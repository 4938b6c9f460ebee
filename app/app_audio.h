// Audio capture, microphone gain control through amixer, and the debug recording.
#ifndef APP_AUDIO_H
#define APP_AUDIO_H

#include <stddef.h>
#include <stdint.h>

// Starts audio capture into actxt. 1 on success, 0 on failure.
int Initialize_AudioSDK(void);

// 1 switches automatic gain control on, 0 off; any other state does nothing.
void ChangeAGCState(int32_t state);

// Maps the user-interface volume (0..100) to the mixer's hardware value (AGC on:
// v / 2, else v * 80 / 100) and sets it. Returns the command's status as the
// shell reports it.
int SetAudioVolumeGain(int32_t volume, int32_t agc_state);

// The recording switch run with every configuration pass: starts a new recording
// (emptying html/capturedAudio.pcm) or stops the current one.
void Switch_Audio_Recording(void);

// Appends one period to the recording when recording is exactly 1, and ends the
// recording once it holds total_samples_to_record + 1 periods.
void Record_Audio_Period(const int16_t *samples, size_t bytes);

#endif
