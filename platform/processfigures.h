// The process's own figures, as Prometheus' client libraries export them by default.
#pragma once

struct ProcessFigures {
    double cpuSeconds = 0; // user and system time
    double residentBytes = 0;
    double virtualBytes = 0;
    double openDescriptors = 0;
    double maxDescriptors = 0;   // the soft limit
    double startTimeSeconds = 0; // since the Unix epoch
};

// False where /proc is not there (not Linux).
bool readProcessFigures(ProcessFigures *figures);
