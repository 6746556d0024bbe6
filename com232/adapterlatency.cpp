// The latency warning: the mark beside the port list and the text the command line prints.
#include "com232/adapterlatency.h"
#include "app/panelcontrols.h"
#include "platform/rs232.h"
#include "platform/tr.h"
#include "platform/userint.h"

std::string adapterLatencyAdvice(int port) {
    const int ms = comLatencyTimer(port);
    if (ms <= 1)
        return "";
    if (lowLatencyRequested())
        return kvex::trArgs(
            "The USB adapter's latency timer is %1 ms: it can hold each answer that long before "
            "passing it on, although low latency was asked for. Fix: the udev rule the package "
            "installs (/usr/lib/udev/rules.d/60-kvex-rtn.rules) sets the timer to 1 ms; unplug "
            "the adapter and plug it in again after installing the package.",
            {std::to_string(ms)});
    return kvex::trArgs(
        "The USB adapter's latency timer is %1 ms: it can hold each answer that long before "
        "passing it on; low latency is switched off. Fix: the udev rule the package installs "
        "(/usr/lib/udev/rules.d/60-kvex-rtn.rules) sets the timer to 1 ms; unplug the adapter "
        "and plug it in again after installing the package.",
        {std::to_string(ms)});
}

void showAdapterLatency(int port) {
    const std::string advice = adapterLatencyAdvice(port);
    SetCtrlAttribute(pHandle, TEXTLatency, ATTR_TOOLTIP_TEXT, advice.c_str());
    SetCtrlAttribute(pHandle, TEXTLatency, ATTR_TEXT_COLOR, VAL_RED);
    SetCtrlAttribute(pHandle, TEXTLatency, ATTR_VISIBLE, advice.empty() ? 0 : 1);
}
