// The one audit of the gateway: every write, teach, reset and port check any face was asked for,
// done or refused, in the journal, in a short list for the web, and handed to every face.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class AuditLog {
  public:
    // Entries the list keeps for /api/audit.
    static constexpr std::size_t kKept = 50;

    // Any thread. `format` is the journal line's printf format, marked with kvex::tr, taking the
    // client, what was asked and the result; what a client sent is made one line first.
    void record(const char *format, const std::string &client, const std::string &what,
                const std::string &result);
    // The last kKept entries as auditEntryJson wrote them, oldest first.
    std::deque<std::string> entries() const;
    // The entries recorded since the last call, for the faces (the poller's thread).
    std::vector<std::string> takeNew();

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> kept_;
    std::vector<std::string> new_;
};
