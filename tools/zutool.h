// zutool: the engine's command-line companion. Each subcommand is one function
// taking the arguments after its name (argv[0] is the subcommand's name).
#ifndef ZUTOOL_H
#define ZUTOOL_H

struct zutool_command {
    const char *name;
    const char *summary;
    int (*run)(int argc, char **argv);  // process exit status
};

// Subcommands.
int zutool_sig(int argc, char **argv);
int zutool_model(int argc, char **argv);
int zutool_spk(int argc, char **argv);
int zutool_features(int argc, char **argv);
int zutool_despike(int argc, char **argv);

// Prints "zutool: " and the formatted message on standard error; returns 2, the
// exit status for a usage or input error.
int zutool_fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// True when argv holds "-h" or "--help".
bool zutool_wants_help(int argc, char **argv);

#endif
