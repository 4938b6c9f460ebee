// zutool: inspect and make what the engine reads (features, models, soundpacks, signatures).
#include "zutool.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

// Subcommands, one line each. Their functions live in zutool_<name>.cpp.
static const zutool_command commands[] = {
    {"sig", "SHA-256 digest, ECDSA signing and the engine's signature check", zutool_sig},
    {"model", "build signed model blobs from JSON sources; inspect them", zutool_model},
    {"spk", "pack soundpack archives; inspect and verify them", zutool_spk},
    {"features", "print the front end's levels and features for a WAV file", zutool_features},
    {"despike", "repair clicks in a WAV file with the spike remover", zutool_despike},
    {nullptr, nullptr, nullptr},
};

int zutool_fail(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fputs("zutool: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    return 2;
}

bool zutool_wants_help(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) return true;
    }
    return false;
}

static void usage(FILE *out) {
    fputs("usage: zutool COMMAND [ARGS...]\n\ncommands:\n", out);
    for (const zutool_command *c = commands; c->name; c++)
        fprintf(out, "  %-10s %s\n", c->name, c->summary);
    fputs("\n'zutool COMMAND --help' describes a command.\n", out);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0 ||
        strcmp(argv[1], "help") == 0) {
        usage(stdout);
        return 0;
    }
    for (const zutool_command *c = commands; c->name; c++) {
        if (strcmp(argv[1], c->name) == 0) return c->run(argc - 1, argv + 1);
    }
    usage(stderr);
    return zutool_fail("unknown command '%s'", argv[1]);
}
