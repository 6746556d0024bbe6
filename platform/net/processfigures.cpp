// The process's figures from /proc/self only: the gateway's unit hides the rest of /proc
// (ProcSubset=pid), so the start time comes from the boot clock, not from /proc/stat.
#include "platform/processfigures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Since Linux 6.2 the folder's size is the count, at once; listing 10 000 descriptors would hold
// the network thread for some 10 ms a scrape.
double openDescriptors() {
    struct stat folder {};
    if (::stat("/proc/self/fd", &folder) == 0 && folder.st_size > 0)
        return static_cast<double>(folder.st_size);
    int open = 0;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds))
            open += entry->d_name[0] != '.';
        ::closedir(fds);
        --open; // the folder being read
    }
    return open;
}

} // namespace

bool readProcessFigures(ProcessFigures *figures) {
    std::FILE *stat = std::fopen("/proc/self/stat", "r");
    if (!stat)
        return false;
    char line[2048] = {};
    const std::size_t n = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    line[n] = '\0';
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const char *rest = std::strrchr(line, ')');
    if (!rest)
        return false;
    unsigned long utime = 0, stime = 0, vsize = 0;
    unsigned long long start = 0;
    long rss = 0;
    // Fields 3.. : state, then 11 numbers to utime (14), stime (15), ..., starttime (22),
    // vsize (23), rss (24).
    if (std::sscanf(rest + 1,
                    " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu %*d %*d %*d %*d %*d "
                    "%*d %llu %lu %ld",
                    &utime, &stime, &start, &vsize, &rss) != 5)
        return false;
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    figures->cpuSeconds = static_cast<double>(utime + stime) / ticks;
    figures->residentBytes =
        static_cast<double>(rss) * static_cast<double>(::sysconf(_SC_PAGESIZE));
    figures->virtualBytes = static_cast<double>(vsize);
    timespec boot{}, wall{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    ::clock_gettime(CLOCK_REALTIME, &wall);
    const double sinceStart =
        static_cast<double>(boot.tv_sec) + boot.tv_nsec * 1e-9 - static_cast<double>(start) / ticks;
    figures->startTimeSeconds = static_cast<double>(wall.tv_sec) + wall.tv_nsec * 1e-9 - sinceStart;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0)
        figures->maxDescriptors =
            files.rlim_cur == RLIM_INFINITY ? -1.0 : static_cast<double>(files.rlim_cur);
    figures->openDescriptors = openDescriptors();
    return true;
}
