// A wait that sleeps until the program's thread has something to do.
#pragma once

// Handles what is pending, receive callbacks included; when nothing is, sleeps until the next
// event (serial data, a network request, a signal) or for at most `seconds`. For loops that
// wait long and must cost next to nothing meanwhile; ProcessSystemEvents wakes every few ms.
void waitForEvents(double seconds);
