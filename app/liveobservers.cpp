// The registry of live-loop observers.
#include "app/liveobservers.h"

#include <map>

namespace {

std::map<int, LiveObserver> observers;
int nextId = 1;
std::function<void()> afterLoop;

template <typename Member, typename... Args> void notifyAll(Member member, Args... args) {
    // An observer may remove itself while it is called.
    const std::map<int, LiveObserver> current = observers;
    for (const auto &entry : current)
        if (const auto &hook = entry.second.*member)
            hook(args...);
}

} // namespace

int addLiveObserver(LiveObserver observer) {
    const int id = nextId++;
    observers[id] = std::move(observer);
    return id;
}

void removeLiveObserver(int id) {
    observers.erase(id);
}

void notifyRunStarted() {
    notifyAll(&LiveObserver::runStarted);
}
void notifyRunSample() {
    notifyAll(&LiveObserver::runSample);
}
void notifyRunEnded(LiveEnd end) {
    notifyAll(&LiveObserver::runEnded, end);
}
// Asked every cycle, so without the copy notifyAll makes: the question adds or removes no one.
bool runVideoLineWanted() {
    bool wanted = false;
    for (const auto &entry : observers)
        if (entry.second.wantsVideoLine && entry.second.wantsVideoLine())
            wanted = true;
    return wanted;
}
void notifyRunVideoLine() {
    notifyAll(&LiveObserver::runVideoLine);
}
void notifyVideoStarted() {
    notifyAll(&LiveObserver::videoStarted);
}
void notifyVideoLine() {
    notifyAll(&LiveObserver::videoLine);
}
void notifyVideoEnded(LiveEnd end) {
    notifyAll(&LiveObserver::videoEnded, end);
}

void afterLiveLoop(std::function<void()> call) {
    afterLoop = std::move(call);
}

void runAfterLiveLoop() {
    // Taken out first: the work may run a loop of its own, which calls this again.
    std::function<void()> call = std::move(afterLoop);
    afterLoop = nullptr;
    if (call)
        call();
}
