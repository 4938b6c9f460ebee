// make_clip: writes a deterministic test clip of mixed material as a mono 16-bit WAV.
//
//   make_clip OUT.wav [--seconds S] [--rate HZ]
//
// The clip cycles through one-second scenes: silence, a 1 kHz tone, white-noise
// bursts, a 100 Hz to rate/2 chirp, an impulsive burst with a decaying tail (a
// shot-like sound), a clipped square-ish tone, and single-sample clicks on quiet
// noise. The same arguments always give the same bytes.
#include <math.h>
#include <sndfile.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

namespace {

// xorshift32: a fixed, portable noise source so that clips are reproducible.
struct noise_gen {
    uint32_t state;
};

double noise_next(noise_gen *g) {  // uniform in [-1, 1)
    uint32_t x = g->state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    g->state = x;
    return (double)x / 2147483648.0 - 1.0;
}

int16_t to_pcm(double v) {
    double s = round(v * 32767.0);
    if (s > 32767.0) s = 32767.0;
    if (s < -32768.0) s = -32768.0;
    return (int16_t)s;
}

void scene(int kind, int rate, int n, noise_gen *g, int16_t *out) {
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < n; i++) {
        double t = (double)i / rate;
        double v = 0.0;
        switch (kind) {
            case 0:  // near silence
                v = 0.0005 * noise_next(g);
                break;
            case 1:  // steady tone
                v = 0.3 * sin(2 * pi * 1000.0 * t);
                break;
            case 2:  // noise bursts of 100 ms every 250 ms
                v = (fmod(t, 0.25) < 0.1 ? 0.5 : 0.01) * noise_next(g);
                break;
            case 3: {  // linear chirp 100 Hz .. rate/2 over the scene
                double f1 = rate / 2.0, k = (f1 - 100.0);
                v = 0.4 * sin(2 * pi * (100.0 * t + 0.5 * k * t * t));
                break;
            }
            case 4:  // impulsive burst at 200 ms with a 60 ms decay
                v = t < 0.2 ? 0.002 * noise_next(g) : 0.95 * exp(-(t - 0.2) / 0.06) * noise_next(g);
                break;
            case 5:  // overdriven 440 Hz tone, clipped at full scale
                v = 2.5 * sin(2 * pi * 440.0 * t);
                break;
            default:  // quiet noise with a click every 100 ms
                v = 0.01 * noise_next(g) + (i % (rate / 10) == rate / 20 ? 0.9 : 0.0);
                break;
        }
        out[i] = to_pcm(v);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const char *path = nullptr;
    int seconds = 7, rate = 16000;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            rate = atoi(argv[++i]);
        } else if (argv[i][0] != '-' && !path) {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (!path || seconds <= 0 || rate < 1000 || rate > 192000) {
        fprintf(stderr, "usage: make_clip OUT.wav [--seconds S] [--rate HZ]\n");
        return 2;
    }
    std::vector<int16_t> pcm((size_t)seconds * (size_t)rate);
    noise_gen g = {0x2545F491u};
    for (int s = 0; s < seconds; s++) scene(s % 7, rate, rate, &g, &pcm[(size_t)s * (size_t)rate]);

    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(path, SFM_WRITE, &info);
    if (!f) {
        fprintf(stderr, "make_clip: cannot write %s: %s\n", path, sf_strerror(nullptr));
        return 1;
    }
    sf_count_t n = sf_write_short(f, pcm.data(), (sf_count_t)pcm.size());
    sf_close(f);
    if (n != (sf_count_t)pcm.size()) {
        fprintf(stderr, "make_clip: short write to %s\n", path);
        return 1;
    }
    return 0;
}
