// Feature front end: turns each audio frame into a vector of 243 signed 16-bit
// features (static, delta and delta-delta parts of 81 static features) and keeps a
// running audio-level meter.
//
// Each call analyses a Kaiser-windowed block of two frames (previous and current,
// both pre-emphasised) with a real FFT of twice the frame length, writes the static
// features of the current frame into slot feature_slot of the feature ring and
// completes the deltas of the previous frame's vector, one slot back. The completed
// vector is read after the call from slot (feature_slot + 1) mod 3.
//
// Integer only on the per-frame path; the record holds every buffer (no allocation).
//
// Static feature layout (v = one ring slot):
//   0 .. band_count-1     quarter-octave log energies, normalised to length 32768 (Q15)
//   34 .. 49              cepstrum c0..c15 of 16 triangular-filter log energies, log2 x 64
//   50                    zero crossings of the current frame (count)
//   51, 52                harmonic peak bin; its level, log2 x 256
//   53                    signed log of the spectral slope, log2 x 256
//   54                    RMS level, linear x 32
//   55                    amplitude-histogram entropy, bits x 2048
//   56 .. 56+fbc-1        spectral flatness per band, Q15 (at most 32767)
//   other entries up to 80 stay 0; 81..161 are the deltas (halved), 162..242 the
//   delta-deltas (quartered); 243..255 of each slot stay 0.
#ifndef ZU_FE_H
#define ZU_FE_H

#include <stdint.h>

#include "zu.h"
#include "dsp/zu_fft.h"

struct zu_fe {
    int32_t sample_rate;           // Hz, as given to zu_fe_init
    int32_t frame_length;          // samples per frame: 128, 256 or 512
    int32_t log2_frame_length;     // 7, 8 or 9
    int32_t power[513];            // re^2 + im^2 of the latest spectrum, bins 0..frame_length
    int32_t spectrum_shift;        // S = 16 - block shift (1..16): levels are corrected by 2S bits
    uint32_t band_energy[34];      // quarter-octave band energies, (sum of power + 32) >> 6
    int32_t band_count;            // quarter-octave bands in use
    int32_t first_band_edge;       // 16.16 bins: upper edge of band 0
    int32_t flatness_start;        // 16.16 bins: centre of flatness band 0
    int32_t flatness_fine_bands;   // flatness bands analysed bin by bin (8)
    int32_t flatness_band_count;   // flatness bands in use
    int32_t filter_count;          // triangular filters (16)
    const uint16_t *filter_edges;  // 17 bin numbers: peaks of the triangular filters
    int32_t slope_low_bins;        // lowest bins merged in the spectral slope (2 or 1)
    int32_t feature_slot;          // ring slot written by the next call (0, 1, 2)
    int16_t feature_ring[3][256];  // three feature vectors
    int32_t feature_count;         // 243, set by every call
    union {
        int16_t fft_in[1024];     // windowed two-frame block, block-scaled to 15 bits + sign
        uint32_t histogram[256];  // amplitude histogram (same storage, after the FFT)
    };
    zu_cplx16 fft_out[513];    // spectrum of fft_in / (2 x frame_length), bins 0..frame_length
    const uint16_t *window;    // Q15 (32768 = 1.0), first half of the analysis window
    int16_t prev_frame[512];   // pre-emphasised samples of the previous frame
    int16_t cur_frame[1024];   // pre-emphasised samples of the current frame (frame_length used)
    int16_t last_sample;       // last raw input sample of the previous call
    uint32_t level_ring[128];  // per-frame energies of the level meter
    uint32_t level_pos;        // next level_ring entry to write
    uint32_t level_len;        // level_ring entries in use (63 or 86)
    fix16 audio_level;         // 16.16 dB: long-term mean level over level_ring
    fix16 peak_level;          // 16.16 dB: strongest quarter-octave band of the latest window
    int32_t peak_band;         // index of that band (0 .. band_count-1)
};

// Constant tables, generated from their rules at compile time.
// First half (frame_length values) of a symmetric Kaiser window, length 2 x frame_length,
// beta = 3, round(32768 w[m]).
extern const uint16_t (&kaiser_window_256)[128];
extern const uint16_t (&kaiser_window_512)[256];
extern const uint16_t (&kaiser_window_1024)[512];
// Peak bins of the 16 triangular filters (the 17th edge is frame_length).
extern const uint16_t filter_edges_128[17];
extern const uint16_t filter_edges_256[17];
extern const uint16_t filter_edges_512[17];
// Q15: trunc(32768 cos(pi i (k + 0.5) / 16)), limited to 32767; row i, column k.
extern const int16_t (&cepstrum_dct)[16][16];
// floor(2^31 2^((i + 0.5) / 64)): mantissa of 2^x for the 6 fraction bits i of x.
extern const uint32_t (&exp2_frac_table)[64];
// ceil(2^32 / (k + 1)), entry 0 limited to 2^32 - 1: T * entry >> 32 is about T / (k + 1).
extern const uint32_t (&reciprocal_table)[16];

// Clears the record and sets it up for sample_rate (Hz) and frame_length (128, 256, 512).
// Returns 0, or -1 (record cleared, only sample_rate and frame_length stored) for another
// frame length, or for a sample rate that is not positive or so low (below about 6 kHz)
// that the harmonic-peak search would read past spectrum bin frame_length.
int32_t zu_fe_init(zu_fe *fe, int32_t sample_rate, int32_t frame_length);

// Consumes frame_length samples (read only) and updates features and levels. Returns 0.
// The rate argument is ignored (the record keeps the rate given to zu_fe_init).
int32_t zu_fe_process(zu_fe *fe, const int16_t *samples, int32_t rate);

// The record owns no resources; returns -1.
int32_t zu_fe_close(zu_fe *fe);

// Row-compressed projection: for row i, acc = sum_j weights[p + j] * in[start[i] + j],
// j = 0 .. len[i]-1 (a row of length 0 still uses one weight), p running over the rows;
// 16 x 16 products summed in 32 bits; out[i] = (acc + 16384) >> 15. Weights are Q15.
void zu_fe_sparse_matrix_vec_mult(int16_t *out, const int16_t *weights, const uint16_t *start,
                                  const uint16_t *len, const int16_t *in, uint32_t rows);

#endif
