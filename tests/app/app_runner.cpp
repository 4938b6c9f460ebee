#include "app_runner.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string slurp(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

double now_s() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

}  // namespace

app_home::app_home() {
    mkdir((dir + "/html").c_str(), 0755);
    std::ofstream f(dir + "/amixer");
    f << "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$(dirname \"$0\")/amixer.calls\"\n";
    f.close();
    chmod((dir + "/amixer").c_str(), 0755);
}

void app_home::write_config(const std::string &xml) const {
    std::ofstream f(path("html/configparams.xml"), std::ios::binary | std::ios::trunc);
    f << xml;
}

std::string app_home::read(const std::string &name) const {
    return slurp(path(name));
}

bool app_home::exists(const std::string &name) const {
    return access(path(name).c_str(), F_OK) == 0;
}

std::vector<std::string> app_home::amixer_calls() const {
    std::vector<std::string> calls;
    std::istringstream in(read("amixer.calls"));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    return calls;
}

std::string config_xml(int level, int threshold, int agc, int volume, int demo, int saturation,
                       int recording, int zu_logging, int total) {
    std::ostringstream s;
    s << "<ConfigParams>\n"
      << "  <AppAudioLevel>" << level << "</AppAudioLevel>\n"
      << "  <AppdetectionThreshold>" << threshold << "</AppdetectionThreshold>\n"
      << "  <EnableAGC>" << agc << "</EnableAGC>\n"
      << "  <VolumeGain>" << volume << "</VolumeGain>\n"
      << "  <UseDemoSoundpacks>" << demo << "</UseDemoSoundpacks>\n"
      << "  <EnableSaturation>" << saturation << "</EnableSaturation>\n"
      << "  <EnableAudioRecording>" << recording << "</EnableAudioRecording>\n"
      << "  <EnableZULogging>" << zu_logging << "</EnableZULogging>\n"
      << "  <TotalAudioSamplesToRecord>" << total << "</TotalAudioSamplesToRecord>\n"
      << "</ConfigParams>\n";
    return s.str();
}

void app_process::start(const std::string &program, const app_home &home,
                        const std::map<std::string, std::string> &env) {
    out_path = home.path("stdout.txt");
    err_path = home.path("stderr.txt");
    pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        for (const char *v : {"TSDK_LOG", "TSDK_AUDIO", "TSDK_PERIOD_BYTES", "TSDK_REALTIME",
                              "TSDK_AT_END", "TSDK_EVENTS", "TSDK_FAIL"})
            unsetenv(v);
        setenv("TK_APP_HOME", home.dir.c_str(), 1);
        setenv("TSDK_LOG", home.path("app.log").c_str(), 1);
        for (const auto &[k, v] : env) {
            if (v == "<unset>") {
                unsetenv(k.c_str());
            } else {
                setenv(k.c_str(), v.c_str(), 1);
            }
        }
        if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr))
            _exit(120);
        execl(program.c_str(), program.c_str(), (char *)nullptr);
        _exit(127);
    }
}

bool app_process::wait(double seconds) {
    double deadline = now_s() + seconds;
    while (now_s() < deadline) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            pid = -1;
            return true;
        }
        usleep(5000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
    return false;
}

int app_process::exit_code() const {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string app_process::out() const {
    return slurp(out_path);
}

std::string app_process::err() const {
    return slurp(err_path);
}

app_process::~app_process() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

bool wait_for_text(const std::string &file, const std::string &text, double seconds) {
    double deadline = now_s() + seconds;
    do {
        if (slurp(file).find(text) != std::string::npos) return true;
        usleep(10000);
    } while (now_s() < deadline);
    return false;
}

size_t count_of(const std::string &hay, const std::string &needle) {
    size_t n = 0;
    for (size_t at = hay.find(needle); at != std::string::npos;
         at = hay.find(needle, at + needle.size()))
        n++;
    return n;
}
