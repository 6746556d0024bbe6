#include "gateway/core/storedhistory.h"

#include <algorithm>
#include <cmath>
#include <sqlite3.h>

bool readStoredHistory(const std::string &path, int64_t fromMs, int64_t toMs, HistoryCursor after,
                       std::size_t count, bool newestFirst, std::vector<GatewaySample> *out) {
    out->clear();
    // Read-only and never creating: a file the store has not made yet is not made here.
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    sqlite3_busy_timeout(db, 200);
    const char *sql = newestFirst ? "SELECT t, seq, left, right, value, um, setpoint, tol, in_tol, "
                                    "ana_max, ana_min FROM history WHERE t >= ?1 AND t <= ?2 "
                                    "ORDER BY t DESC LIMIT ?3"
                                  : "SELECT t, seq, left, right, value, um, setpoint, tol, in_tol, "
                                    "ana_max, ana_min FROM history WHERE t >= ?1 AND t <= ?2 "
                                    "ORDER BY t LIMIT ?3";
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &select, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db); // a file from before the history was kept
        return false;
    }
    // The time is the table's key, so the cursor's time alone says where to go on.
    sqlite3_bind_int64(select, 1, newestFirst ? fromMs : std::max(fromMs, after.timeMs));
    sqlite3_bind_int64(select, 2, toMs);
    sqlite3_bind_int64(select, 3, static_cast<sqlite3_int64>(count));
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        GatewaySample s{};
        s.timeMs = sqlite3_column_int64(select, 0);
        s.seq = static_cast<uint32_t>(sqlite3_column_int64(select, 1));
        s.left = static_cast<uint16_t>(sqlite3_column_int(select, 2));
        s.right = static_cast<uint16_t>(sqlite3_column_int(select, 3));
        s.value = static_cast<uint16_t>(sqlite3_column_int(select, 4));
        s.um = sqlite3_column_type(select, 5) == SQLITE_NULL ? std::nan("")
                                                             : sqlite3_column_double(select, 5);
        s.setpoint = static_cast<uint16_t>(sqlite3_column_int(select, 6));
        s.tol = static_cast<uint16_t>(sqlite3_column_int(select, 7));
        s.inTol = sqlite3_column_int(select, 8) != 0;
        s.anaMax = static_cast<uint16_t>(sqlite3_column_int(select, 9));
        s.anaMin = static_cast<uint16_t>(sqlite3_column_int(select, 10));
        out->push_back(s);
    }
    sqlite3_finalize(select);
    sqlite3_close_v2(db);
    if (rc != SQLITE_DONE)
        out->clear();
    return rc == SQLITE_DONE;
}
