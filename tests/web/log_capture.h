// The service's log lines, read back from the SDK's log file. The first call
// starts the SDK with a log file of its own in a scratch directory.
#ifndef SONIVALE_TESTS_WEB_LOG_CAPTURE_H
#define SONIVALE_TESTS_WEB_LOG_CAPTURE_H

#include <string>

// Forgets the lines logged so far.
void clear_log();
// Whether exactly this line (with its "\n") was logged since clear_log.
bool logged(const std::string &line);
bool wait_logged(const std::string &line, int timeout_ms);

#endif
