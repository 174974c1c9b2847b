#include "cli/progress_line.h"

#include <stdio.h>
#include <unistd.h>

#include <utility>

namespace {

// Work shorter than this ends before anyone waits for it.
const uint64_t PROGRESS_FROM = 16 << 20;

}  // namespace

ProgressLine::ProgressLine(std::string what, uint64_t total)
    : what_(std::move(what)), total_(total), shown_(total >= PROGRESS_FROM && isatty(STDERR_FILENO))
{
}

ProgressLine::~ProgressLine()
{
    if (shown_)
        fputs("\r\033[K", stderr);  // the finished line goes
}

void ProgressLine::add(uint64_t bytes)
{
    done_ += bytes;
    uint64_t mib = done_ >> 20;
    if (!shown_ || (mib == last_mib_ && done_ != total_))
        return;
    last_mib_ = mib;
    fprintf(stderr, "\r%s: %llu of %llu MiB", what_.c_str(), static_cast<unsigned long long>(mib),
            static_cast<unsigned long long>(total_ >> 20));
    fflush(stderr);
}
