// The audit list: one line on stderr (the journal), the JSON entry kept and queued for the faces.
#include "gateway/core/audit.h"
#include "app/measurement.h"
#include "gateway/core/logging.h"
#include "gateway/payloads.h"
#include "platform/tr.h"

namespace {

// What an entry keeps of a client's request and of its result.
constexpr std::size_t kLongestWhat = 300;

} // namespace

void AuditLog::record(const char *format, const std::string &client, const std::string &rawWhat,
                      const std::string &result) {
    // What a client sent goes into the journal as one line whatever it holds, and the kept
    // entries stay small however long a client's names are.
    const std::string what = journalSafe(rawWhat.substr(0, kLongestWhat));
    const std::string said = journalSafe(result.substr(0, kLongestWhat));
    logEvent(format, journalSafe(client).c_str(), what.c_str(), said.c_str());
    const std::string entry = auditEntryJson(isoTimeNow(), client, what, said);
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
