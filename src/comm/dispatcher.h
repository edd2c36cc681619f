// The engine behind one open serial port: received bytes go from the device into
// the input ring and out to readers and triggers; written bytes go through the
// output ring to the device. The device itself is an object the dispatcher owns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "comm/dispatch_log.h"
#include "comm/dispatcher_threads.h"
#include "comm/handler_lists.h"
#include "comm/input_ring.h"
#include "comm/line_settings.h"
#include "comm/lock_order.h"
#include "comm/port_device.h"
#include "comm/recorders.h"
#include "comm/ring.h"
#include "comm/trigger_lists.h"
#include "comm/triggers.h"
#include "platform/clock.h"
#include "platform/message_loop.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

class CustomComPort;

// Result codes of the dispatcher's own checks.
constexpr int ecBadArgument = -1002;
constexpr int ecCantOpenEvents = -8;
constexpr int ecNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecPutBlockFail = -3004;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecBaseAddressNotSet = -3010;
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;

// OpenDevice options.
constexpr uint32_t kOpenDtrOn = 0x01;
constexpr uint32_t kOpenRtsOn = 0x02;
constexpr uint32_t kOpenDtrFlow = 0x10;
constexpr uint32_t kOpenRtsFlow = 0x20;

// Option word bit set while the port's UseEventWord is true.
constexpr uint32_t kOptionEventWord = 0x04;

struct LineSettings {
    int32_t Baud = 0;
    int Parity = 0;
    int DataBits = 8;
    int StopBits = 1;
};

struct FlowSettings {
    uint32_t HardwareOptions = 0;  // 1 DTR, 2 RTS handshake, 4 DSR, 8 CTS required
    uint32_t SoftwareOptions = 0;  // 1 XON/XOFF out, 2 in
    uint8_t XOnChar = 17;
    uint8_t XOffChar = 19;
};

// Where a method handler's availability offers begin.
enum class HandlerStart {
    kAllWaiting,  // with the bytes already waiting in the input ring
    kFromNow,     // with the first byte received after it joined
};

// Whether the dispatcher runs its own worker threads. Without them whoever drives it
// runs the cycles itself (RunDeviceCycle, RunTimerCycle, DrainOutput), one at a time.
enum class WorkerMode {
    kThreads,
    kCallerDriven,
};

class BaseDispatcher final : private WorkerHost {
public:
    // Over the platform's serial device.
    explicit BaseDispatcher(CustomComPort* owner, platform::Clock& clock = platform::SystemClock());
    BaseDispatcher(CustomComPort* owner, std::unique_ptr<PortDevice> device,
                   platform::Clock& clock = platform::SystemClock(), WorkerMode workers = WorkerMode::kThreads);
    // Closes the device (or finishes a pending close) and waits for the threads.
    ~BaseDispatcher();
    BaseDispatcher(const BaseDispatcher&) = delete;
    BaseDispatcher& operator=(const BaseDispatcher&) = delete;

    CustomComPort* Owner() const { return owner_; }
    int RegistryIndex() const { return registryIndex_; }
    platform::Clock& Clock() const { return clock_; }
    // "COMn", formed by the port; shown in the dispatch log.
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name) { deviceName_ = name; }

    // Lifetime ------------------------------------------------------------------
    int OpenDevice(const std::string& name, int32_t baud, uint32_t options, int outSize, int inSize, int stopBits,
                   int dataBits, int parity);
    OpenFailure LastOpenFailure() const { return device_->LastOpenFailure(); }
    // Purges and closes; the release is left to the dispatcher thread (close
    // pending) when a notification is being delivered.
    int CloseDevice();
    bool DeviceIsOpen() const { return deviceOpen_.load(); }
    bool ClosePending() const { return signals_.ClosePending.load(); }
    bool ThreadsRunning() const { return signals_.ThreadsRunning.load(); }
    int RunningThreads() const { return signals_.RunningThreads.load(); }
    // Dispatcher cycles run to their end. Two past a count read, a whole cycle has run
    // since: the bytes the device held then were read, scanned and delivered.
    uint64_t CyclesDone() const { return signals_.CyclesDone.load(); }
    bool InDispatch() const { return inDispatch_.load(); }
    bool SizeDeviceQueues(int inSize, int outSize) { return device_->SizeQueues(inSize, outSize); }

    // Data ------------------------------------------------------------------------
    int QueueBytes(const void* buffer, int count);
    int QueueByte(uint8_t value) { return QueueBytes(&value, 1); }
    int ReadBytes(void* buffer, int count);
    int BytesAvailable();
    // The place in the received stream (bytes since open) of the next byte ReadBytes
    // gives the caller; inside an offer, the caller's own place in it.
    uint64_t ReadPosition();
    // Bytes written but not yet sent: the output ring's and the driver's (bytes the driver
    // holds are still garbled by a change of line settings).
    int OutputPending();
    // Room in the output ring: what QueueBytes accepts now.
    int OutputRoom();
    int InQueueSize() const { return inQueueSize_; }
    int OutQueueSize() const { return outQueueSize_; }
    int PurgeOutput();
    int PurgeInput();

    // Line settings and signals ---------------------------------------------------
    int ApplyLineSettings(int32_t baud, int parity, int stopBits, int dataBits);
    LineSettings QueryLineSettings();
    int SetDtrLine(bool on);
    int SetRtsLine(bool on);
    int SendLineBreak(int ticks, bool yield);
    int ConfigureHardwareFlow(int bufferFull, int bufferResume, uint32_t options);
    int ConfigureSoftwareFlow(int bufferFull, int bufferResume, uint32_t options);
    int DisableSoftwareFlow();
    int SetFlowChars(uint8_t xon, uint8_t xoff);
    FlowSettings QueryFlowSettings();
    // The modem status byte (signals in bits 4-7, change flags in 0-3) before
    // masking; the stored value keeps only the mask's bits afterwards.
    uint8_t ReadModemSignals(uint8_t mask);
    // 1 overflow, 2 overrun, 3 parity, 4 framing, 9 break, 0 none.
    int TakeLineError();
    bool TakeBreakFlag();
    void SetRs485Mode(bool on);
    bool Rs485Mode() const;
    void SetOptionBits(uint32_t bits);
    void ClearOptionBits(uint32_t bits);
    uint32_t OptionBits() const;
    // Worker threads run at the normal time-sharing priority; raising it needs
    // privileges a bench PC does not grant, so the boost is only recorded.
    void ApplyThreadBoost(uint8_t boost) { threadBoost_ = boost; }
    uint8_t ThreadBoost() const { return threadBoost_.load(); }
    // Gives up the rest of the time slice; 0.
    static int YieldSlice();

    // Triggers --------------------------------------------------------------------
    void SetAvailThreshold(int count);
    int AvailThreshold();
    int NewTimerTrigger();
    int NewDataTrigger(const void* data, bool ignoreCase, int length);
    int ArmTimerTrigger(int handle, int32_t ticks, bool activate);
    int DeleteTrigger(int handle);
    void RemoveAllTriggers();
    void SnapshotTriggers(TriggerSnapshot& snapshot);
    void ReinstateTriggers(const TriggerSnapshot& snapshot);

    // Notification handlers -------------------------------------------------------
    void AttachWindowHandler(platform::WindowHandle window);
    void DetachWindowHandler(platform::WindowHandle window);
    void AttachProcHandler(TriggerProc proc);
    void DetachProcHandler(TriggerProc proc);
    // A method handler is known by its object; detaching removes that object's record.
    // Joined with kFromNow, it is offered only bytes received after it joined: what is
    // already waiting in the input ring counts as read by it.
    void AttachMethodHandler(const void* object, TriggerMethod method, HandlerStart start = HandlerStart::kAllWaiting);
    void DetachMethodHandler(const void* object);
    void SetHandlerFlags(HandlerFlagsMode mode);
    bool HandlersNeedService();
    // Delivers one notification to every handler; false when aborted by a close or
    // when an availability offer was not read whole by some handler.
    bool NotifyHandlers(uint32_t msg, uint32_t triggerHandle, uint32_t data);

    // Worker threads ----------------------------------------------------------------
    // Raises "Dispatcher already started" when they run; nothing without worker threads.
    void StartThreads();
    // Ends the three threads and waits for them (serving the GUI thread's messages).
    void StopThreads();
    // The dispatcher thread's body: one cycle after a device event (or the 50 ms
    // time-out), true when it read bytes; and the timer pass.
    bool RunDeviceCycle() override;
    void RunTimerCycle() override;
    // The output thread's body: writes the output ring to the device until it is empty
    // or a flush is requested.
    void DrainOutput() override;
    // Reads what the driver holds into the input ring's free room; the bytes moved.
    uint32_t FillInputRing();
    // The same; driverHasMore: the room ran out before what the driver reported.
    uint32_t FillInputRing(bool& driverHasMore);
    bool ScanDataTriggers();
    bool ScanTimerTriggers();
    bool ScanStatusTriggers();
    // The dispatcher thread object, for handlers that raise events on the GUI thread.
    DispatcherThread* DispThreadObject();
    // Runs fn on the GUI thread and waits (the worker threads' synchronise).
    static void RunOnGuiThread(const std::function<void()>& fn);

    // Tracing and logging -----------------------------------------------------------
    DispatchRecorders& Recorders() { return recorders_; }

private:
    // The com thread's side (WorkerHost).
    void StartDeviceWaits() override;
    int WaitDeviceEvent(uint32_t& events, uint32_t timeoutMs) override;
    // Stops the threads if they run and frees both rings; the dispatcher thread runs it
    // as it leaves after a close pending.
    void ReleaseBuffers() override;
    // Ends the threads that still use the device, then closes it.
    int CloseDeviceAndThreads();
    // Ends the com and output threads (they never wait for the GUI thread).
    void StopIoThreads();
    // Joins the worker threads (waiting, with messages served, for any still running);
    // nothing on a worker thread.
    void JoinFinishedThreads();
    bool IsWorkerThread() const;
    // Empties the output ring under a running output thread: a block in flight is dropped.
    void FlushOutputThread();
    void AdvanceOutTail(uint32_t count, uint32_t generation);

    // Reads the driver's status and ORs its error flags into the error bits.
    DriverStatus RefreshDriverStatus();
    // The same, then the bytes pending in the output ring (the driver's own output queue
    // is asked apart, by OutputPending alone).
    uint32_t RefreshOutputStatus();
    void RefreshModemStatus();
    // Posts kDeviceLostMsg to the window handlers the first time the device is lost.
    void ReportDeviceLoss();
    int CommonApplyState(platform::DeviceState& state);
    void WaitForDrain();
    bool CheckFlowLimits(int bufferFull, int bufferResume) const;
    void ClearStatusFired();
    uint32_t UnreadCountThrough(uint64_t at);
    // An availability offer of count bytes, made at stream place at.
    bool OfferAvailable(uint64_t at, uint32_t count);
    bool InputRingFull();
    void AttachHandler(HandlerKind kind, HandlerRec rec, LogSubKind subKind, uint32_t logData);
    void DetachHandler(HandlerKind kind, LogSubKind subKind, uint32_t logData,
                       const std::function<bool(const HandlerRec&)>& matches);
    // One delivery loop over the three lists; false when a close pending aborted it.
    bool DeliverToHandlers(uint32_t msg, uint32_t triggerHandle, int32_t param);
    void CallHandler(HandlerKind kind, const HandlerRec& rec, uint32_t msg, uint32_t offer, int32_t param);
    // Ends the offer (completed: the ring drops what was read) and the delivery; the
    // largest amount one handler read.
    uint32_t EndDelivery(bool completed);

    CustomComPort* owner_;
    platform::Clock& clock_;
    const std::unique_ptr<PortDevice> device_;
    const WorkerMode workerMode_;
    int registryIndex_ = -1;
    std::string deviceName_;

    // The lock order of the whole program, outermost first; a lock is only ever taken
    // while holding locks above it:
    //   1. a user's own lock: the packet manager's Lock, the terminal receive pipe's
    //      lock. Held around calls into the dispatcher; never wanted by the dispatcher,
    //      which runs its handlers (that take these locks) with none of its own held.
    //   2. the input lock.
    //   3. the dispatcher lock, or the output lock (never one inside the other).
    //   4. leaves, under which nothing is taken: the serial device's own locks, the
    //      dispatcher registry's lock, the packet manager list's lock, the message
    //      loop's queue, the lines of ReceivedLines and the message recorder.
    // The ThreadSanitizer build reports any two locks taken in both orders; where
    // HYDRIX_LOCK_CHECK is on (debug and sanitizer builds) the dispatcher's three locks
    // check 2 and 3 as they are taken.
    mutable OrderedLock dispatcherLock_{LockLevel::kDispatcher, "dispatcher lock"};
    mutable OrderedLock outputLock_{LockLevel::kOutput, "output lock"};
    mutable OrderedLock inputLock_{LockLevel::kInput, "input lock"};

    Ring outRing_;                  // output lock
    uint32_t purgeGeneration_ = 0;  // output lock; a purge invalidates a block in flight
    InputRing inRing_;              // input lock; the dispatcher thread alone moves the head

    // Dispatcher lock.
    LineControl line_;
    uint32_t optionWord_ = 0;
    uint8_t modemStatus_ = 0;

    std::atomic<uint32_t> errorBits_{0};
    std::atomic<bool> outputSent_{false};
    std::atomic<uint8_t> threadBoost_{0};

    int inQueueSize_ = 0;
    int outQueueSize_ = 0;

    std::atomic<bool> deviceOpen_{false};
    bool deviceLossReported_ = false;  // dispatcher thread only
    std::atomic<bool> inDispatch_{false};
    std::atomic<bool> closing_{false};
    WorkerSignals signals_;
    WorkerThreads threads_;

    // Dispatcher lock: triggers, handlers, recorders.
    TriggerLists triggers_;
    HandlerLists handlers_;
    DispatchRecorders recorders_{dispatcherLock_, clock_, deviceName_};
};

}  // namespace hydrix::comm
