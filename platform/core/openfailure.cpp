// Why a port did not open, told apart for the operator: no such device, permission denied (and
// the group that gives access), or in use by another program (and which one).
#include "platform/core/internal.h"
#include "platform/rs232.h"
#include "platform/tr.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QString>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#endif

namespace {

std::string lastFailure;

#ifndef _WIN32

std::string processName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? kvex::trArgs("process %1", {std::to_string(pid)})
                        : kvex::trArgs("\"%1\", process %2", {name, std::to_string(pid)});
}

// The lock file Qt SerialPort keeps while a program holds the port (LCK..ttyUSB0).
std::string lockFileHolder(const std::string &device) {
    QString name = QString::fromStdString(device);
    if (name.startsWith("/dev/"))
        name = name.mid(5);
    name.replace('/', '_');
    for (const char *directory :
         {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"}) {
        QLockFile lock(QString(directory) + "/LCK.." + name);
        qint64 pid = 0;
        QString host, application;
        if (lock.getLockInfo(&pid, &host, &application) && pid > 0 &&
            QFileInfo::exists(QString("/proc/%1").arg(pid)))
            return processName(static_cast<long>(pid));
    }
    return "";
}

// A process with the device among its open files.
std::string openFileHolder(const std::string &device) {
    const QString target = QFileInfo(QString::fromStdString(device)).canonicalFilePath();
    const QStringList processes = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        bool numeric = false;
        const long number = pid.toLong(&numeric);
        if (!numeric)
            continue;
        const QDir fds("/proc/" + pid + "/fd");
        for (const QFileInfo &fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget() == target)
                return processName(number);
    }
    return "";
}

std::string existingPorts(const std::string &missing) {
    std::string list;
    struct stat st {};
    for (const SerialPortEntry &port : listSerialPorts()) {
        if (port.device == missing || stat(port.device.c_str(), &st) != 0)
            continue;
        list += (list.empty() ? "" : ", ") + std::to_string(port.number) + ": " + port.device;
    }
    return list.empty() ? kvex::trNow("no serial ports on this machine")
                        : kvex::trArgs("ports here: %1", {list});
}

std::string permissionAdvice(const std::string &device, const struct stat &st) {
    const group *g = getgrgid(st.st_gid);
    const passwd *owner = getpwuid(st.st_uid);
    const std::string groupName = g ? g->gr_name : std::to_string(st.st_gid);
    const std::string ownerName = owner ? owner->pw_name : std::to_string(st.st_uid);
    if ((st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP))
        return kvex::trArgs("permission denied on %1 - add the user to group \"%2\" (sudo "
                            "usermod -aG %2 $USER) and log in again",
                            {device, groupName});
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return kvex::trArgs("permission denied on %1 - only its owner \"%2\" may open it (mode %3); "
                        "give group \"dialout\" read and write access with a udev rule, add the "
                        "user to that group and log in again",
                        {device, ownerName, mode});
}

std::string describe(const std::string &device, const std::string &systemText) {
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return kvex::trArgs("no such device %1 - %2", {device, existingPorts(device)});
    if (access(device.c_str(), R_OK | W_OK) != 0 && errno == EACCES)
        return permissionAdvice(device, st);
    std::string holder = lockFileHolder(device);
    if (holder.empty())
        holder = openFileHolder(device);
    const QString text = QString::fromStdString(systemText);
    if (!holder.empty())
        return kvex::trArgs("%1 is in use by another program (%2)", {device, holder});
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
