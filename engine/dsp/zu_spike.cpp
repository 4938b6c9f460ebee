// Spike remover: normalised matched filter over the latest 33 samples and a
// three-sample linear repair. See zu_spike.h.
#include "dsp/zu_spike.h"

#include <stddef.h>

// The one remover state of the process. The ring starts full of zeros with
// write_pos 32, so the window is complete from the first sample.
static wd_state spike = {
    {0},  // history
    0,    // oldest
    32,   // write_pos
    0,    // sum
    0,    // sum_sq
    0,    // corr
    0,    // samples_seen
    // Spike template, tap 0 applied to the oldest sample, tap 32 to the newest;
    // the peak sits at taps 15 to 17, about 16 samples back. Entry 33 is padding.
    {1844, 1614, 1416, 1524,  1752,  1684,  1840, 1938, 1848, 1728, 1642, 1702,
     1540, 1444, 1462, 36198, 65534, 15542, 2940, 1670, 1996, 2212, 2322, 2270,
     2170, 2038, 1952, 1810,  1522,  1492,  1618, 1776, 1758, 0},
    33,      // taps
    993,     // mean_factor (1/65536 units)
    171798,  // template_sum: sum of the 33 template values
    77123,   // template_energy: (sum t^2 - (sum t)^2 / 33) / 65536
    45875,   // detect_threshold: 0.7 in 16.16
};

const wd_state *const spike_template = &spike;
const uint32_t spike_template_len = 352;

int32_t wd_init(const wd_state *tmpl, uint32_t length, wd_state **out) {
    if (tmpl != spike_template || length != spike_template_len || out == nullptr) return -2;
    spike.samples_seen = 0;
    *out = &spike;
    return 0;
}

int32_t wd_close(wd_state *handle) {
    return handle == nullptr ? -2 : 0;
}

int32_t wd_classify(wd_state *st, int16_t *samples, uint32_t count) {
    if (st == nullptr) return -1;
    const uint32_t n = st->taps;
    const uint32_t half = (n - 1) / 2;  // 16
    // mean_factor * template_sum: 993 * 171798, fits 32 bits.
    const int64_t mean_tmpl = (int64_t)st->mean_factor * st->template_sum;

    for (uint32_t i = 0; i < count; i++) {
        const int16_t x = samples[i];

        // 1. Drop the sample that leaves the window, store the new one.
        const int32_t gone = st->history[st->write_pos];
        st->sum -= gone;
        st->sum_sq -= (int64_t)(gone * gone);
        st->history[st->write_pos] = x;

        // 2. Correlation, tap 0 on the oldest sample, tap n-1 on x. Each product is
        //    u16 x s16 and fits 32 bits; the sum is 64-bit.
        int64_t corr = 0;
        uint32_t pos = st->oldest;
        for (uint32_t k = 0; k < n; k++) {
            corr += (int32_t)st->spike_tmpl[k] * (int32_t)st->history[pos];
            if (++pos == n) pos = 0;
        }
        st->corr = corr;

        // 3. Running sums and ring positions.
        st->sum += x;
        st->sum_sq += (int64_t)(x * x);
        if (++st->oldest == n) st->oldest = 0;
        if (++st->write_pos == n) st->write_pos = 0;

        // 4. Den = template_energy * (sum_sq - mean_factor * sum^2 >> 16). The bracket is
        //    never negative (sum^2 <= 33 sum_sq) and both factors stay far below 2^63.
        const int64_t sum = st->sum;
        const int64_t sum2 = (int64_t)((uint64_t)sum * (uint64_t)sum);
        const int64_t den = st->template_energy * (st->sum_sq - ((st->mean_factor * sum2) >> 16));

        // 5. Mean correction: the high 32 bits, taken as signed, of the 64-bit product
        //    (mean_factor * template_sum) * (sum * 65536). The product wraps modulo 2^64
        //    when |sum| exceeds about 825000 (a window averaging above 25000), and the
        //    correction wraps with it.
        const uint64_t mc_prod = (uint64_t)mean_tmpl * ((uint64_t)sum << 16);
        const int32_t mc = (int32_t)(uint32_t)(mc_prod >> 32);
        const int64_t cc = corr - mc;

        // 6. R = Cc^2 / Den in 16.16 (squared normalised correlation). Cc^2 is kept to its
        //    low 64 bits and divided as a signed value; the quotient keeps its low 32 bits.
        int32_t r = 0;
        if (den != 0) {
            const int64_t cc2 = (int64_t)((uint64_t)cc * (uint64_t)cc);
            r = (int32_t)(uint32_t)(uint64_t)(cc2 / den);
        }

        // 7. Repair the three samples around the spike (16 samples back) by a straight line
        //    from samples[i-18] to samples[i-14]; only when both ends lie in this call.
        if (i > half + 1 && r > (int32_t)(uint32_t)st->detect_threshold) {
            const int16_t a = samples[i - 18];
            const int16_t b = samples[i - 14];
            const int16_t d = (int16_t)((b - a) / 5);  // truncates towards zero
            samples[i - 17] = (int16_t)(a + d);
            samples[i - 16] = (int16_t)(a + 2 * d);
            samples[i - 15] = (int16_t)(a + 3 * d);
        }
    }
    st->samples_seen += count;
    return 0;
}
