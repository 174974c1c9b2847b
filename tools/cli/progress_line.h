// The progress of long work on standard error, when a person watches it.
#pragma once
#include <stdint.h>

#include <string>

// "WHAT: N of M MiB" on standard error, rewritten in place, when standard
// error is a terminal and the work is long.
class ProgressLine {
public:
    ProgressLine(std::string what, uint64_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void add(uint64_t bytes);

private:
    std::string what_;
    uint64_t total_;
    bool shown_;
    uint64_t done_ = 0;
    uint64_t last_mib_ = UINT64_MAX;
};
