// Hooks through which features that follow the live loops (recording, statistics, the traffic
// monitor) learn of each answer without the loops knowing them.
#pragma once

#include <functional>

// Why a run or video loop ended.
enum class LiveEnd { Stopped, Timeout };

struct LiveObserver {
    std::function<void()> runStarted;
    // The measurement variables hold the answer just taken; called once per run-mode cycle.
    std::function<void()> runSample;
    std::function<void(LiveEnd)> runEnded;
    // Asked once per run-mode cycle, before the next request: true pauses the run for one video
    // read, handed on through runVideoLine.
    std::function<bool()> wantsVideoLine;
    // adcbuf holds a video line read between two run-mode cycles.
    std::function<void()> runVideoLine;
    std::function<void()> videoStarted;
    // The measurement variables and adcbuf hold the line just read.
    std::function<void()> videoLine;
    std::function<void(LiveEnd)> videoEnded;
};

// Returns an id for removeLiveObserver.
int addLiveObserver(LiveObserver observer);
void removeLiveObserver(int id);

void notifyRunStarted();
void notifyRunSample();
void notifyRunEnded(LiveEnd end);
// Whether any observer wants a video line now; every observer is asked.
bool runVideoLineWanted();
void notifyRunVideoLine();
void notifyVideoStarted();
void notifyVideoLine();
void notifyVideoEnded(LiveEnd end);

// Work that needs the wire to itself, asked for while a live loop runs: the Run and Video buttons
// call it once their loop has ended and its exchange is over. A later request replaces an earlier
// one that has not run.
void afterLiveLoop(std::function<void()> call);
void runAfterLiveLoop();
