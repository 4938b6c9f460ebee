// Small helpers shared by the test programs: a temporary directory that removes
// itself, and running a command line with its output captured.
#ifndef SONIVALE_TEST_SUPPORT_H
#define SONIVALE_TEST_SUPPORT_H

#include <string>

// A fresh directory under /tmp, removed with everything in it on destruction.
struct temp_dir {
    std::string path;

    explicit temp_dir(const char *prefix);  // /tmp/<prefix>.XXXXXX; aborts if it cannot be made
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    std::string file(const std::string &name) const { return path + "/" + name; }
};

struct command_result {
    int status;       // exit status, or -1 when the command did not exit normally
    std::string out;  // what it wrote to standard output
};

// Runs a shell command line (add " 2>&1" to capture standard error too).
command_result run_command(const std::string &command_line);

#endif
