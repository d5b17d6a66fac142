#pragma once
/// What the simulated unit saw and did, written at the end as key=value lines.

#include <string>
#include <vector>

namespace k410sim {

struct SimReport
{
    unsigned probeSpeed = 0;                       ///< probe_speed: the configured probe speed
    unsigned probesReceived = 0;                   ///< probes_received
    unsigned probesAnswered = 0;                   ///< probes_answered
    std::vector<unsigned> probeSpeedsReceived;     ///< probe_speeds_received: line speed of each probe
    std::vector<unsigned> probeSpeedsAnswered;     ///< probe_speeds_answered
    unsigned linkRequests = 0;                     ///< link_requests: 0x05 received outside an exchange
    unsigned linkAnswers = 0;                      ///< link_answers: 0x06 sent for them
    unsigned linkIgnoredPoweringUp = 0;            ///< link_ignored_powering_up
    unsigned garbageSent = 0;                      ///< garbage_sent: noise bytes sent
    unsigned readRequests = 0;                     ///< read_requests: every "A" received
    unsigned readRequestsAnswered = 0;             ///< read_requests_answered: "A" answered 0x06 0x05
    unsigned readRepeatsAcked = 0;                 ///< read_repeats_acked: repeated "A" answered 0x06 before the 0x05
    unsigned readsDropped = 0;                     ///< reads_dropped: reads given up for an "A" after the 0x05
    unsigned goAheads = 0;                         ///< go_aheads: host's 0x06 that started a block upload
    unsigned blocksSent = 0;                       ///< blocks_sent: block transmissions, repeats included
    unsigned blockAcks = 0;                        ///< block_acks: 0x06 received for a block
    unsigned naksReceived = 0;                     ///< naks_received: 0x15 received for a block
    unsigned corruptBlocksSent = 0;                ///< corrupt_blocks_sent
    unsigned endBlockAnswers = 0;                  ///< end_block_answers: bytes the host sent after the end block (should be 0)
    unsigned backupTrailersSent = 0;               ///< backup_trailers_sent
    unsigned backupsCompleted = 0;                 ///< backups_completed: trailers acknowledged with 0x06
    bool backupCompleted = false;                  ///< backup_completed: the latest backup got its final 0x06
    unsigned eraseRequests = 0;                    ///< erase_requests: every "B" received
    unsigned recordsReceived = 0;                  ///< records_received: 16-byte records, repeats included
    unsigned recordsAccepted = 0;                  ///< records_accepted: valid records stored (end record not counted)
    unsigned recordsRejected = 0;                  ///< records_rejected: records failing their checks
    unsigned recordsNaked = 0;                     ///< records_naked: valid records answered 0x15 by --nak-record
    unsigned endRecords = 0;                       ///< end_records: end records accepted
    unsigned trailersReceived = 0;                 ///< trailers_received
    unsigned trailerNaks = 0;                      ///< trailer_naks: trailers answered 0x15
    unsigned restarts = 0;                         ///< restarts: erase requests that followed a trailer 0x15
    unsigned upgradesCompleted = 0;                ///< upgrades_completed: trailers answered 0x06
    bool upgradeCompleted = false;                 ///< upgrade_completed: the latest upgrade got its final 0x06
    unsigned hostOpens = 0;                        ///< host_opens: times the host opened the line
    unsigned hostHangups = 0;                      ///< host_hangups: times the host closed it (last descriptor)
    unsigned exchangesAbandoned = 0;               ///< exchanges_abandoned: exchanges cut off by a host hang-up
    unsigned wrongSpeedBytes = 0;                  ///< wrong_speed_bytes: bytes ignored for the line speed
    unsigned unexpectedBytes = 0;                  ///< unexpected_bytes: bytes that fit no exchange
    unsigned adapterWrites = 0;                    ///< adapter_writes: bursts the USB adapter model handed to the host
    unsigned adapterMerges = 0;                    ///< adapter_merges: bursts holding bytes of two or more messages
    unsigned adapterCuts = 0;                      ///< adapter_cuts: times a message was cut between two bursts
    bool silent = false;                           ///< silent: the unit no longer answers
    unsigned firmwareBytes = 0;                    ///< firmware_bytes: size of the unit's firmware
    std::string endReason = "running";             ///< end_reason: running, stopped, hangup-at-block, hangup-at-record

    /// The report as key=value lines, one per field, in the order above.
    std::string toText() const;
};

} // namespace k410sim
