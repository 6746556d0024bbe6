// A window that lists what the program records while the window is open (the traffic monitor):
// pausable, clearable, saved as text. The program supplies the record through functions.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct TrafficWindowRow {
    std::vector<std::string> cells;
    bool marked; // drawn in red
};

struct TrafficWindowSource {
    std::string title;
    std::vector<std::string> columns;
    // Width of each column in characters; 0 lets the column take the room that is left.
    std::vector<int> widths;
    // true when the window opens, false when it closes: the record exists only in between.
    std::function<void(bool)> record;
    std::function<void(bool)> pause;
    std::function<void()> clear;
    // Changes whenever rows() would; the window refreshes only then.
    std::function<unsigned long()> version;
    std::function<std::vector<TrafficWindowRow>()> rows;
    std::function<bool(const std::string &path)> save;
};

// Shows the window over the panel (it closes with the panel), or raises it when it is open
// already; 0, or UIE_INVALID_PANEL where there is no screen.
int OpenTrafficWindow(int panel, const TrafficWindowSource &source);
