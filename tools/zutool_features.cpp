// zutool features / despike: run a WAV file through the engine's signal front end.
//
//   zutool features [--frame-length N] [--spike-removal] FILE
//       one line per frame t: t spectrum_shift audio_level peak_level peak_band v[0..242]
//       (levels as raw 16.16 dB; v is the vector completed by that frame, i.e. frame t-1)
//   zutool despike IN.wav OUT.wav
//       writes the spike-repaired samples (frames of 256, a shorter last one)
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "dsp/zu_fe.h"
#include "dsp/zu_spike.h"
#include "zutool.h"

namespace {

const char features_usage[] =
    "usage: zutool features [--frame-length N] [--spike-removal] FILE\n"
    "\n"
    "Runs a mono 16-bit PCM WAV file through the feature front end at the file's own\n"
    "sample rate. The samples are cut into frames of N (128, 256 or 512; default 256;\n"
    "a remainder is dropped). After frame t one line of integers is printed:\n"
    "  t spectrum_shift audio_level peak_level peak_band v0 ... v242\n"
    "with the levels as raw 16.16 dB values and v the feature vector completed by the\n"
    "call (that of frame t-1).\n"
    "\n"
    "  --frame-length N   samples per frame (128, 256 or 512)\n"
    "  --spike-removal    pass each frame through the spike remover first\n";

const char despike_usage[] =
    "usage: zutool despike IN.wav OUT.wav\n"
    "\n"
    "Passes a mono 16-bit PCM WAV file through the spike remover in frames of 256\n"
    "samples (a shorter last frame for the remainder) and writes the repaired samples\n"
    "to OUT.wav (mono 16-bit PCM, same sample rate).\n";

// Reads a whole mono 16-bit PCM WAV file. Returns 0, or the exit status of a reported error.
int read_pcm16_wav(const char *path, std::vector<int16_t> *samples, int *rate) {
    SF_INFO info;
    memset(&info, 0, sizeof info);
    SNDFILE *f = sf_open(path, SFM_READ, &info);
    if (f == nullptr) return zutool_fail("%s: cannot open: %s", path, sf_strerror(nullptr));
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    int status = 0;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) {
        status = zutool_fail("%s: not a WAV file", path);
    } else if (sub != SF_FORMAT_PCM_16) {
        status = zutool_fail("%s: samples are not 16-bit PCM", path);
    } else if (info.channels != 1) {
        status = zutool_fail("%s: %d channels; only mono is accepted", path, info.channels);
    } else if (info.samplerate <= 0) {
        status = zutool_fail("%s: invalid sample rate %d", path, info.samplerate);
    } else {
        samples->assign((size_t)info.frames, 0);
        const sf_count_t got = sf_read_short(f, samples->data(), info.frames);
        if (got != info.frames) {
            status = zutool_fail("%s: read %lld of %lld samples", path, (long long)got,
                                 (long long)info.frames);
        }
        *rate = info.samplerate;
    }
    sf_close(f);
    return status;
}

}  // namespace

int zutool_features(int argc, char **argv) {
    if (zutool_wants_help(argc, argv)) {
        fputs(features_usage, stdout);
        return 0;
    }
    int32_t frame_length = 256;
    bool spike_removal = false;
    const char *path = nullptr;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const char *value = nullptr;
        if (strcmp(arg, "--frame-length") == 0) {
            if (i + 1 >= argc) return zutool_fail("features: --frame-length needs a value");
            value = argv[++i];
        } else if (strncmp(arg, "--frame-length=", 15) == 0) {
            value = arg + 15;
        } else if (strcmp(arg, "--spike-removal") == 0) {
            spike_removal = true;
            continue;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return zutool_fail("features: unknown option '%s' (see 'zutool features --help')", arg);
        } else if (path != nullptr) {
            return zutool_fail("features: more than one input file");
        } else {
            path = arg;
            continue;
        }
        char *end = nullptr;
        const long n = strtol(value, &end, 10);
        if (*value == '\0' || *end != '\0' || (n != 128 && n != 256 && n != 512)) {
            return zutool_fail("features: frame length must be 128, 256 or 512, not '%s'", value);
        }
        frame_length = (int32_t)n;
    }
    if (path == nullptr) {
        fputs(features_usage, stderr);
        return zutool_fail("features: no input file");
    }

    std::vector<int16_t> samples;
    int rate = 0;
    if (int status = read_pcm16_wav(path, &samples, &rate)) return status;

    // The front-end record is large (about 12 KB); keep it off the stack.
    zu_fe *fe = (zu_fe *)malloc(sizeof(zu_fe));
    if (fe == nullptr) return zutool_fail("features: out of memory");
    if (zu_fe_init(fe, rate, frame_length) != 0) {
        free(fe);
        return zutool_fail("%s: sample rate %d Hz is not supported by the front end", path, rate);
    }
    wd_state *detector = nullptr;
    if (spike_removal && wd_init(spike_template, spike_template_len, &detector) != 0) {
        free(fe);
        return zutool_fail("features: spike remover cannot be set up");
    }

    std::vector<int16_t> frame((size_t)frame_length);
    const size_t frames = samples.size() / (size_t)frame_length;
    for (size_t t = 0; t < frames; t++) {
        memcpy(frame.data(), samples.data() + t * (size_t)frame_length,
               (size_t)frame_length * sizeof(int16_t));
        if (spike_removal) wd_classify(detector, frame.data(), (uint32_t)frame_length);
        zu_fe_process(fe, frame.data(), rate);
        const int16_t *v = fe->feature_ring[(fe->feature_slot + 1) % 3];
        printf("%zu %d %d %d %d", t, (int)fe->spectrum_shift, (int)fe->audio_level,
               (int)fe->peak_level, (int)fe->peak_band);
        for (int i = 0; i < 243; i++) printf(" %d", (int)v[i]);
        putchar('\n');
    }
    if (detector != nullptr) wd_close(detector);
    zu_fe_close(fe);
    free(fe);
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "zutool: features: write error on standard output\n");
        return 1;
    }
    return 0;
}

int zutool_despike(int argc, char **argv) {
    if (zutool_wants_help(argc, argv)) {
        fputs(despike_usage, stdout);
        return 0;
    }
    for (int i = 1; i < argc; i++) {
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return zutool_fail("despike: unknown option '%s' (see 'zutool despike --help')",
                               argv[i]);
        }
    }
    if (argc != 3) {
        fputs(despike_usage, stderr);
        return zutool_fail("despike: expected IN.wav and OUT.wav");
    }
    const char *in_path = argv[1];
    const char *out_path = argv[2];

    std::vector<int16_t> samples;
    int rate = 0;
    if (int status = read_pcm16_wav(in_path, &samples, &rate)) return status;

    wd_state *detector = nullptr;
    if (wd_init(spike_template, spike_template_len, &detector) != 0) {
        return zutool_fail("despike: spike remover cannot be set up");
    }
    for (size_t off = 0; off < samples.size(); off += 256) {
        const size_t count = samples.size() - off < 256 ? samples.size() - off : 256;
        wd_classify(detector, samples.data() + off, (uint32_t)count);
    }
    wd_close(detector);

    SF_INFO info;
    memset(&info, 0, sizeof info);
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *out = sf_open(out_path, SFM_WRITE, &info);
    if (out == nullptr) {
        return zutool_fail("%s: cannot create: %s", out_path, sf_strerror(nullptr));
    }
    const sf_count_t wrote = sf_write_short(out, samples.data(), (sf_count_t)samples.size());
    const int close_status = sf_close(out);
    if (wrote != (sf_count_t)samples.size() || close_status != 0) {
        fprintf(stderr, "zutool: %s: write failed\n", out_path);
        return 1;
    }
    return 0;
}
