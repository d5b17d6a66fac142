#include "SimReport.h"

namespace k410sim {

namespace {

std::string list(const std::vector<unsigned> &values)
{
    std::string s;
    for (const unsigned v : values) {
        if (!s.empty())
            s += ',';
        s += std::to_string(v);
    }
    return s;
}

} // namespace

std::string SimReport::toText() const
{
    std::string t;
    const auto put = [&t](const char *key, const std::string &value) {
        t += key;
        t += '=';
        t += value;
        t += '\n';
    };
    const auto num = [&put](const char *key, unsigned value) { put(key, std::to_string(value)); };
    const auto yes = [&put](const char *key, bool value) { put(key, value ? "yes" : "no"); };
    num("probe_speed", probeSpeed);
    num("probes_received", probesReceived);
    num("probes_answered", probesAnswered);
    put("probe_speeds_received", list(probeSpeedsReceived));
    put("probe_speeds_answered", list(probeSpeedsAnswered));
    num("link_requests", linkRequests);
    num("link_answers", linkAnswers);
    num("link_ignored_powering_up", linkIgnoredPoweringUp);
    num("garbage_sent", garbageSent);
    num("read_requests", readRequests);
    num("read_requests_answered", readRequestsAnswered);
    num("read_repeats_acked", readRepeatsAcked);
    num("reads_dropped", readsDropped);
    num("go_aheads", goAheads);
    num("blocks_sent", blocksSent);
    num("block_acks", blockAcks);
    num("naks_received", naksReceived);
    num("corrupt_blocks_sent", corruptBlocksSent);
    num("end_block_answers", endBlockAnswers);
    num("backup_trailers_sent", backupTrailersSent);
    num("backups_completed", backupsCompleted);
    yes("backup_completed", backupCompleted);
    num("erase_requests", eraseRequests);
    num("records_received", recordsReceived);
    num("records_accepted", recordsAccepted);
    num("records_rejected", recordsRejected);
    num("records_naked", recordsNaked);
    num("end_records", endRecords);
    num("trailers_received", trailersReceived);
    num("trailer_naks", trailerNaks);
    num("restarts", restarts);
    num("upgrades_completed", upgradesCompleted);
    yes("upgrade_completed", upgradeCompleted);
    num("host_opens", hostOpens);
    num("host_hangups", hostHangups);
    num("exchanges_abandoned", exchangesAbandoned);
    num("wrong_speed_bytes", wrongSpeedBytes);
    num("unexpected_bytes", unexpectedBytes);
    num("adapter_writes", adapterWrites);
    num("adapter_merges", adapterMerges);
    num("adapter_cuts", adapterCuts);
    yes("silent", silent);
    num("firmware_bytes", firmwareBytes);
    put("end_reason", endReason);
    return t;
}

} // namespace k410sim
