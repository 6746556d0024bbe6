// Timing and event services: monotonic clock, blocking delay and the event pump of wait loops.
#pragma once

// Seconds since a fixed start, never decreasing.
double Timer();
// Blocks the caller; events are not processed meanwhile.
void Delay(double seconds);
// Handles pending user-interface and serial events on the calling thread. When nothing is pending
// it sleeps until the next event (bytes a receive callback waits for, a timer, input), at most
// 50 ms, so wait loops that call it over and over do not spin a core; nothing depends on that
// wait.
int ProcessSystemEvents();
