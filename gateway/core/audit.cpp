// The audit list: one line on stderr (the journal), the JSON entry kept and queued for the faces.
#include "gateway/core/audit.h"
#include "app/measurement.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

#include <cstdio>

void AuditLog::record(const char *format, const std::string &client, const std::string &rawWhat,
                      const std::string &result) {
    // What a client sent goes into the journal as one line whatever it holds.
    std::string what = rawWhat;
    for (char &c : what)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    std::fprintf(stderr, kvex::trNow(format), client.c_str(), what.c_str(), result.c_str());
    std::fputc('\n', stderr);
    std::fflush(stderr);
    const std::string entry = auditEntryJson(isoTimeNow(), client, what, result);
    const std::lock_guard<std::mutex> lock(mutex_);
    kept_.push_back(entry);
    if (kept_.size() > kKept)
        kept_.pop_front();
    new_.push_back(entry);
}

std::deque<std::string> AuditLog::entries() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
}

std::vector<std::string> AuditLog::takeNew() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.swap(new_);
    return out;
}
