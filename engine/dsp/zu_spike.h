// Spike remover: finds short impulsive clicks with a normalised matched filter
// (a 33-tap spike template against the latest 33 input samples) and replaces
// the three samples around a detected spike by a straight line, in place.
//
// The engine has exactly one remover state, a constant-initialised record that
// also carries the template and its precomputed statistics. wd_init hands that
// record out as the handle; every instance that enables spike removal shares it
// (no lock: the engine is driven by one thread).
#ifndef ZU_SPIKE_H
#define ZU_SPIKE_H

#include <stdint.h>

struct wd_state {
    int16_t history[100];      // ring of the latest input samples; the first taps entries used
    uint32_t oldest;           // ring position of the oldest sample
    uint32_t write_pos;        // ring position written next
    int64_t sum;               // sum of the samples in the ring
    int64_t sum_sq;            // sum of their squares
    int64_t corr;              // correlation of the ring with the template, latest sample
    uint64_t samples_seen;     // samples processed since wd_init
    uint16_t spike_tmpl[34];   // spike template, tap 0 = oldest sample; first taps entries used
    uint32_t taps;             // template and window length N (33)
    int16_t mean_factor;       // factor of the mean corrections, units of 1/65536
    int32_t template_sum;      // sum of the template values
    int64_t template_energy;   // centred energy of the template / 65536
    int64_t detect_threshold;  // 0.7 in 16.16; only the low 32 bits are compared
};

// The built-in template record, the only one wd_init accepts, and its length in bytes.
extern const wd_state *const spike_template;
extern const uint32_t spike_template_len;  // 352

// Sets *out to the shared state and clears samples_seen (nothing else is reset).
// Returns 0, or -2 unless tmpl is spike_template, length is spike_template_len and out is given.
int32_t wd_init(const wd_state *tmpl, uint32_t length, wd_state **out);

// Repairs spikes in samples[0 .. count-1] in place. Returns 0, or -1 for a none handle.
int32_t wd_classify(wd_state *handle, int16_t *samples, uint32_t count);

// Returns 0, or -2 for a none handle. The state is static: nothing is released.
int32_t wd_close(wd_state *handle);

#endif
