// The traffic monitor's record: the last frames sent to and received from the sensor, decoded,
// with marks on answers that came short, late or with a bad sync word. Kept only while started.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr std::size_t TRAFFIC_FRAMES = 2000;

struct TrafficFrame {
    double time; // Timer() seconds
    bool sent;
    unsigned short command; // sent: the request's command; received: the request answered
    int bytes;              // bytes on the wire
    int expected;           // bytes an answer to the command has (0 for sent frames)
    std::vector<unsigned short> words; // the data words after sync and command (of a frame),
                                       // or the first 16 words of a block
    unsigned short sync;
    bool isShort, late, badSync;
};

// Starts recording (empty) and stops it, freeing the record. Stopped, the link pays nothing.
void startTraffic();
void stopTraffic();
bool trafficRunning();
// Paused, the record keeps what it holds and takes nothing new.
void pauseTraffic(bool paused);
void clearTraffic();
// Oldest first; at most TRAFFIC_FRAMES.
std::vector<TrafficFrame> trafficFrames();
// Grows by one with every frame recorded, so a view knows when to refresh.
unsigned long trafficVersion();

// The columns of a frame as the monitor shows them: time, direction, code, bytes, words, marks.
std::vector<std::string> trafficColumns();
// Their widths in characters, 0 for the words, which take what is left.
std::vector<int> trafficColumnWidths();
std::vector<std::string> trafficCells(const TrafficFrame &frame);
// The record as text, one frame a line under a header; false when the file cannot be written.
bool saveTraffic(const std::string &path);
