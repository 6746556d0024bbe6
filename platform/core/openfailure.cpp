// Why a port did not open, told apart for the operator: no such device, permission denied (and
// the group that gives access), or in use by another program (and which one).
#include "platform/core/internal.h"
#include "platform/rs232.h"
#include "platform/tr.h"

#include <QString>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

std::string lastFailure;

#ifndef _WIN32

std::string describe(const std::string &device, const std::string &systemText) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return kvex::trArgs("no such device %1 - %2",
                            {device, kvexplatform::portsHereText(device)});
    const kvexplatform::AccessVerdict verdict = kvexplatform::deviceAccessVerdict(device);
    if (!verdict.allowed)
        return kvex::trArgs("permission denied on %1 - %2; %3",
                            {device, verdict.reason, verdict.fix});
    const kvexplatform::PortHolder holder = kvexplatform::findPortHolder(device, 0);
    if (holder.pid)
        return kvex::trArgs("%1 is in use by another program (%2)",
                            {device, kvexplatform::holderText(holder)});
    const QString text = QString::fromStdString(systemText);
    if (text.contains("lock", Qt::CaseInsensitive) || text.contains("busy", Qt::CaseInsensitive))
        return kvex::trArgs("%1 is in use by another program", {device});
    return device + ": " + systemText;
}

#else

std::string describe(const std::string &device, const std::string &systemText) {
    return device + ": " + systemText;
}

#endif

} // namespace

namespace kvexplatform {
void recordOpenFailure(const std::string &device, const std::string &systemText) {
    lastFailure = device.empty() ? std::string() : describe(device, systemText);
}
} // namespace kvexplatform

std::string lastOpenFailure() {
    return lastFailure;
}
