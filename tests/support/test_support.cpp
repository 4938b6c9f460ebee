#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

temp_dir::temp_dir(const char *prefix) {
    std::string tmpl = std::string("/tmp/") + prefix + ".XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        perror("mkdtemp");
        abort();
    }
    path = tmpl;
}

temp_dir::~temp_dir() {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path.c_str());
}

command_result run_command(const std::string &command_line) {
    command_result r{-1, ""};
    FILE *p = popen(command_line.c_str(), "r");
    if (!p) return r;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}
