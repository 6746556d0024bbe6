// What the operator is told when a USB adapter still holds received bytes for its latency timer.
#pragma once

#include <string>

// The warning with its fix when the adapter behind the open port reported a latency timer above
// 1 ms; "" when it did not or has none.
std::string adapterLatencyAdvice(int port);
// Shows or hides the mark beside the port list, with the advice as its tooltip.
void showAdapterLatency(int port);
