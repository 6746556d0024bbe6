// Every JSON body the gateway sends, over MQTT, the web API and the live stream, and its topics.
// Each function takes plain data and lists the keys it writes, in their order, so the man page
// (WEB API, serve's topics), the API and this file can be laid side by side. Two bodies live
// elsewhere because the command line writes them too: /api/doctor is portReportJson
// (app/porttools/portdoctor.h, doctor --json) and the words of params are parametersJson
// (app/jsontext.h).
#pragma once

#include "app/jsontext.h"
#include "app/parameterwords.h"
#include "gateway/core/state.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// kvex/<host>-<port name>, with characters that would split or widen a topic replaced.
std::string defaultTopicPrefix(const std::string &host, const std::string &devicePath);

// ---- MQTT topics meas, info, params; /api/sample, /api/info, /api/params -----------------------

// {"ts","seq","store_epoch" (with a store),"left","right","value","um","setpoint","tol","in_tol",
// "ana_max","ana_min","replay" (only when true)}: one sample as an object, several as an array.
std::string measJson(const std::vector<GatewaySample> &samples);
// {"sensor_type","board","pixels","firmware","pitch_um","device","version","dropped",
// "store_epoch","store" (the last two with a store)}
std::string infoJson(const SensorInfo &info);
// {"power","p_mode","v_thd","ana_mode","polarity","e_mode","e_beg","e_end","t_val","t_tol",
// "op_mode","e_hardware","para12","para13","average","para15"}: the 16 words under their names.
std::string paramsJson(const uint16_t words[16]);

// ---- the signal reserve: MQTT topic health, /api/reserve, the stream's health message -----------

// {"ts","signal_reserve","reserve_state","contrast","saturated"}; NaN figures are written as null.
std::string reserveReadingJson(const ReserveReading &reading);
// {"health","signal_reserve","reserve_state","contrast","saturated","ts","reserve_warn",
// "reserve_failures","advice" (null unless "warn")}: retained MQTT health, and after "type" the
// stream's health message.
std::string healthJson(const ReserveHealth &health);
// {"type":"health", then the keys of healthJson}
std::string healthMessage(const ReserveHealth &health);
// {"reserve_warn","readings":[reading,...]}: the trend, oldest first.
std::string reserveTrendJson(double warnBelow, const std::deque<ReserveReading> &readings);
// {"known","ts","proposed","v_thd","e_beg","e_end","lit_margin","shadow_margin","signal_reserve",
//  "contrast"} or, without a proposal, {"known","ts","proposed":false,"reason","advice"}.
std::string reserveProposalJson(const ReserveProposal &proposal);

// ---- the parameter set's drift: MQTT topic drift, /api/drift, the stream's drift message -------

// {"drift" ("off","unknown","ok" or "drift"),"says" (["unsaved changes","differs from the
// approved set"], those that hold),"ts" (the last whole check, null before one),"golden_file"
// (the approved file's name, null without one),"failures","golden","ram_eeprom","eeprom_golden",
// "ram_golden" (words that differ; null before a check, the last two without an approved set),
// "words":[{"word","key","name","approved","eeprom","ram"},...]}
std::string driftStateJson(const DriftHealth &drift);
// {"type":"drift", then the keys of driftStateJson}
std::string driftMessage(const DriftHealth &drift);

// ---- the web API ----------------------------------------------------------------------------

// {"status" ("online" or "no-sensor"),"sensor_answering","mqtt","queue_depth","dropped",
// "samples","store","serial_errors","last_sample_age_ms" (null before a sample),"uptime_s",
// "version","writes_enabled","health","signal_reserve","reserve_state","contrast","saturated",
// "reserve_failures","advice"} (the reserve's figures null before the first reserve line), at
// `now` on the steady clock.
std::string statusJson(const GatewayState &state, double now, bool writesEnabled);

// {"power":{"word","min","max"},"p_mode":{...},...}: the 16 words' ranges in order.
std::string limitsJson(const ParameterLimit limits[16]);

// The run's statistics as /api/stats gives them; NaN figures are written as null.
struct StatsFigures {
    long count = 0;
    double mean = 0, stdDev = 0, min = 0, max = 0, inTolShare = 0, cp = 0, cpk = 0;
    std::string cpReason; // empty: Cp and Cpk are given
    bool haveWindow = false;
    int windowLower = 0, windowUpper = 0;
    bool haveHistogram = false;
    long histogramLower = 0, histogramWidth = 1;
    std::vector<long> histogramCounts;
};
// {"count","mean","std_dev","min","max","in_tol_share","cp","cpk","cp_reason" (null when Cp is
// given),"window":{"lower","upper"} or null,"histogram":{"lower","width","counts"} or null}
std::string statsJson(const StatsFigures &stats);

// {"ts","pixels":[...],"threshold","left","right","value","eval_begin","eval_end","pixel_count",
// "positions","x_step","full_scale","signal_reserve","reserve_state","contrast","saturated"}
std::string videoJson(const VideoLine &line);

// {"memory" ("ram" or "eeprom"),"verified","params":{...}}: a write's answer, with the words read
// back.
std::string writeResultJson(bool eeprom, bool verified, const uint16_t readBack[16]);
// {"params":{...}}: teach's answer, the words after it.
std::string teachResultJson(const uint16_t words[16]);
// {"reset":true}
std::string resetResultJson();

// {"ts","client","what","result"}: one write or refused write.
std::string auditEntryJson(const std::string &ts, const std::string &client,
                           const std::string &what, const std::string &result);
// [entry,...]: the entries as auditEntryJson wrote them, oldest first.
std::string auditListJson(const std::deque<std::string> &entries);

// {"error"}: every refusal and failure.
std::string errorJson(const std::string &text);
// {"error","word","value","min","max"}: a word outside its range (422); `error` names the word,
// its number, the value and the range.
std::string rangeErrorJson(const std::string &name, int word, long long value,
                           ParameterLimit limit);

// ---- the live stream (/ws) ---------------------------------------------------------------------

// {"type":"meas","sample":{...}}: the sample as measJson wrote it.
std::string measMessage(const std::string &sampleJson);
// {"type":"info","info":{...}}: the identity as infoJson wrote it.
std::string infoMessage(const std::string &infoJson);
// {"type":"params","params":{...}}: the words as paramsJson wrote them.
std::string paramsMessage(const std::string &paramsJson);
// {"type":"audit","entry":{...}}: the entry as auditEntryJson wrote it.
std::string auditMessage(const std::string &entryJson);
// {"type":"status", then the keys of statusJson}
std::string statusMessage(const GatewayState &state, double now, bool writesEnabled);
