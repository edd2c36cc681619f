// The dispatcher's triggers: the timer, data and status lists, the availability
// threshold, the handle counter and where the data scan stands in the received stream.
// The dispatcher thread runs the received bytes through them after each fill of the
// input ring. Not locked: the dispatcher holds its dispatcher lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "comm/triggers.h"
#include "platform/clock.h"

namespace hydrix::comm {

// Handle issue: counter * 8 while the counter is below 4096; after that the
// lowest multiple of 8 up to 4096 that no trigger holds, else 0 (no handle).
int IssueTriggerHandle(int32_t& counter, const std::vector<TimerTrigger>& timers, const std::vector<DataTrigger>& datas,
                       const std::vector<StatusTrigger>& statuses);

// The first counter value whose handle lies above every handle held, so that
// handles issued after a reinstated snapshot never collide with it.
int32_t CounterPastHandles(int32_t counter, const std::vector<TimerTrigger>& timers,
                           const std::vector<DataTrigger>& datas, const std::vector<StatusTrigger>& statuses);

// Which list a removed trigger was in.
enum class TriggerKind : uint8_t { kNone, kTimer, kStatus, kData };

// What the status triggers are tested against.
struct StatusInputs {
    uint8_t ModemStatus = 0;
    uint32_t ErrorBits = 0;
    int OutputRoom = 0;
    int OutputPending = 0;
};

// A data trigger that completed: its handle and match length.
using FiredData = std::pair<int, int>;

class TriggerLists {
public:
    // New triggers: the handle, or 0 when no handle is free.
    int AddTimer();
    int AddData(const uint8_t* data, int length, bool ignoreCase);
    TimerTrigger* FindTimer(int handle);
    // Frees the first trigger with the handle, looking at timers, then status, then data.
    TriggerKind Remove(int handle);
    // No triggers, threshold 0, handles issued from the start again.
    void Clear();
    void SnapshotInto(TriggerSnapshot& snapshot) const;
    void Reinstate(const TriggerSnapshot& snapshot);

    uint32_t AvailThreshold() const { return availThreshold_; }
    void SetAvailThreshold(uint32_t count) { availThreshold_ = count; }

    // Data scan ----------------------------------------------------------------------------
    // The scan goes on at ring position pos, stream place at (open, purge).
    void RestartScan(uint32_t pos, uint64_t at) {
        scanPos_ = pos;
        scanned_ = at;
    }
    uint64_t Scanned() const { return scanned_; }
    uint64_t LastAvailAt() const { return lastAvailAt_; }
    void SetLastAvailAt(uint64_t at) { lastAvailAt_ = at; }
    // Runs the ring's bytes from the scan position up to received (the head's stream place)
    // through the data triggers, each byte once, and stops after a byte on which triggers
    // complete: those go to fired, last registered first, and longest is the longest match.
    // Returns the stream place of that byte, or received when none completed.
    uint64_t ScanData(const uint8_t* ring, uint32_t head, uint64_t received, uint32_t& longest,
                      std::vector<FiredData>& fired);
    void ResetPartialMatches();

    // Timer and status triggers --------------------------------------------------------------
    // The first armed timer that has expired, now disarmed; 0 when none.
    int TakeExpiredTimer(const platform::Clock& clock);
    bool HasStatusTriggers() const { return !statuses_.empty(); }
    // The first armed status trigger met by the inputs, now disarmed and marked fired in
    // this pass; 0 when none. data: the byte count for output room and pending output.
    int FireStatus(const StatusInputs& inputs, std::atomic<bool>& outputSent, uint32_t& data);
    // Ends a pass: the fired marks go when one fired.
    void ClearStatusFired();
    void ClearStatusHit() { statusHit_ = false; }

private:
    std::vector<TimerTrigger> timers_;
    std::vector<DataTrigger> datas_;
    std::vector<StatusTrigger> statuses_;
    int32_t handleCounter_ = 1;
    uint32_t availThreshold_ = 0;
    uint32_t scanPos_ = 0;
    uint64_t scanned_ = 0;      // the scan position's place in the received stream
    uint64_t lastAvailAt_ = 0;  // stream place of the last availability offer
    bool statusHit_ = false;
};

}  // namespace hydrix::comm
