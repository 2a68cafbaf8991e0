// Peak resident memory of the benchmark process (Linux /proc): reset the
// peak before a measurement, then read how far it rose.
#pragma once

#include <fstream>
#include <string>

namespace vt::bench
{

inline double statusMB(const char *field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

inline double &rssBeforeMB()
{
    static double before = 0;
    return before;
}

// Starts a measurement: the peak falls back to what the process holds now.
inline void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    rssBeforeMB() = statusMB("VmRSS:");
}

inline double peakMB()
{
    return statusMB("VmHWM:");
}

// How far the peak rose above what the process held when the measurement began.
inline double growthMB()
{
    return peakMB() - rssBeforeMB();
}

} // namespace vt::bench
