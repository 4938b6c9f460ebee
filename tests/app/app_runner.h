// Runs an application program as its own process, the way the platform does:
// a temporary home with html/configparams.xml and a stand-in amixer that records
// its arguments, the SDK configured through its environment variables.
#ifndef APP_RUNNER_H
#define APP_RUNNER_H

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

struct app_home {
    temp_dir tmp{"sonivale-app"};  // removed with everything in it
    const std::string &dir = tmp.path;

    app_home();  // creates dir/html and dir/amixer

    void write_config(const std::string &xml) const;  // html/configparams.xml
    std::string path(const std::string &name) const { return dir + "/" + name; }
    std::string read(const std::string &name) const;  // "" when missing
    bool exists(const std::string &name) const;
    std::vector<std::string> amixer_calls() const;  // one entry per call: its arguments
};

// A valid configuration with the nine values in file order.
std::string config_xml(int level, int threshold, int agc, int volume, int demo, int saturation,
                       int recording, int zu_logging, int total);

struct app_process {
    pid_t pid = -1;
    int status = -1;  // wait status once finished
    std::string out_path, err_path;

    // Starts program with TK_APP_HOME=home (unless env overrides it) and the given
    // extra environment (a value of null-like "<unset>" removes a variable).
    void start(const std::string &program, const app_home &home,
               const std::map<std::string, std::string> &env);
    // Waits up to seconds for the process to end; kills it and returns false if it doesn't.
    bool wait(double seconds);
    int exit_code() const;  // -1 unless it exited normally
    std::string out() const;
    std::string err() const;
    ~app_process();
};

// Polls file until it contains text, up to seconds. True when found.
bool wait_for_text(const std::string &file, const std::string &text, double seconds);

// Number of times needle occurs in hay.
size_t count_of(const std::string &hay, const std::string &needle);

#endif
