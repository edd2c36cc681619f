// The engine behind one open serial port: received bytes go from the device into
// the input ring and out to readers and triggers; written bytes go through the
// output ring to the device. The device itself sits behind the virtual slots.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "comm/dispatch_log.h"
#include "comm/dispatcher_threads.h"
#include "comm/handler_lists.h"
#include "comm/input_ring.h"
#include "comm/line_settings.h"
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

// Escape codes for the break condition, beside the platform's DTR/RTS codes.
constexpr int kSetBreak = 8;
constexpr int kClrBreak = 9;
constexpr int kGetBaseIrq = 10;

// Device status: error flags, bytes in the driver's input queue, bytes pending output
// in the output ring and, beyond it, in the driver's own output queue.
struct DeviceStatus {
    uint32_t Flags = 0;
    uint32_t InQueue = 0;
    uint32_t OutQueue = 0;
    uint32_t DriverOutQueue = 0;
};

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

class BaseDispatcher : protected WorkerHost {
public:
    explicit BaseDispatcher(CustomComPort* owner, platform::Clock& clock = platform::SystemClock());
    virtual ~BaseDispatcher();
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
    // What the device layer can tell of the last failed open: its own text (naming the
    // port, the device and what is wrong) and who holds the device; empty where it cannot.
    struct OpenFailure {
        std::string text;
        std::string holder;
    };
    virtual OpenFailure LastOpenFailure() const { return {}; }
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
    uint8_t ThreadBoost() const { return threadBoost_.load(); }

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
    bool HandlersNeedService();
    // Delivers one notification to every handler; false when aborted by a close or
    // when an availability offer was not read whole by some handler.
    bool NotifyHandlers(uint32_t msg, uint32_t triggerHandle, uint32_t data);

    // Dispatcher thread body -----------------------------------------------------
    // One cycle after a device event (or the 50 ms time-out), and the timer pass.
    void RunDeviceCycle() override;
    void RunTimerCycle() override;
    // Reads what the driver holds into the input ring's free room; the bytes moved.
    uint32_t FillInputRing();
    bool ScanDataTriggers();
    bool ScanTimerTriggers();
    bool ScanStatusTriggers();
    // The dispatcher thread object, for handlers that raise events on the GUI thread.
    DispatcherThread* DispThreadObject();
    // Runs fn on the GUI thread and waits (the worker threads' synchronise).
    static void RunOnGuiThread(const std::function<void()>& fn);

    // Tracing and logging -----------------------------------------------------------
    DispatchRecorders& Recorders() { return recorders_; }

    // Device operations (virtual slots) -------------------------------------------
    virtual int EscapeLineFunction(int code) = 0;
    virtual int PurgeDeviceQueue(int which) = 0;  // 0 output, 1 input
    virtual uint32_t ReadDeviceErrors(DeviceStatus& status) = 0;
    virtual void NoteReadFailure(int code) = 0;
    virtual int ReadDeviceState(platform::DeviceState& state) = 0;
    virtual int DeviceRead(void* buffer, int count) = 0;
    virtual int WriteDeviceState(const platform::DeviceState& state) = 0;
    virtual int DeviceWrite(const void* buffer, int count) = 0;
    int WaitDeviceEvent(uint32_t& mask) override = 0;
    virtual bool SizeDeviceQueues(int inSize, int outSize) = 0;
    void ReleaseBuffers() override;
    virtual void StartThreads() = 0;
    virtual void StopThreads() = 0;
    virtual int DeviceOpen(const std::string& name, int inSize, int outSize) = 0;
    virtual int DeviceClose() = 0;
    virtual int YieldSlice();
    virtual void ApplyThreadBoost(uint8_t boost);
    virtual void SetHandlerFlags(HandlerFlagsMode mode);
    // The modem signals (kModem* bits), or a negative code.
    virtual int ReadModemStatus() = 0;
    // Extra device events found by polling (modem-signal changes where the device
    // reports none), OR-ed into the event mask of each dispatcher cycle.
    virtual uint32_t PollDeviceEvents() { return 0; }
    // The device went away under the open port (see kDeviceLostMsg).
    virtual bool DeviceLost() { return false; }

protected:
    // Runs the destruction steps that need the device layer; the most derived
    // destructor calls it so the slots still reach its overrides.
    void ShutdownDispatcher();
    // Reads the driver's status into status and ORs its error flags into the error bits.
    void RefreshDeviceStatus(DeviceStatus& status);
    void RefreshModemStatus();
    // Posts kDeviceLostMsg to the window handlers the first time the device is lost.
    void ReportDeviceLoss();
    // Joins the worker threads (waiting, with messages served, for any still running);
    // nothing on a worker thread.
    void JoinFinishedThreads();
    bool IsWorkerThread() const;

    // The lock order of the whole program, outermost first; a lock is only ever taken
    // while holding locks above it:
    //   1. a user's own lock: the packet manager's Lock, the terminal control's receive
    //      lock. Held around calls into the dispatcher; never wanted by the dispatcher,
    //      which runs its handlers (that take these locks) with none of its own held.
    //   2. the input lock.
    //   3. the dispatcher lock, or the output lock (never one inside the other).
    //   4. leaves, under which nothing is taken: the serial device's own locks, the
    //      dispatcher registry's lock, the packet manager list's lock, the message
    //      loop's queue, the lines of ReceivedLines and the message recorder.
    // The ThreadSanitizer build reports any two locks taken in both orders.
    mutable std::recursive_mutex dispatcherLock_;
    mutable std::recursive_mutex outputLock_;
    mutable std::recursive_mutex inputLock_;

    Ring outRing_;      // output lock
    InputRing inRing_;  // input lock; the dispatcher thread alone moves the head

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

private:
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
    int registryIndex_ = -1;
    std::string deviceName_;
    bool shutDown_ = false;

    // Dispatcher lock: triggers, handlers, recorders.
    TriggerLists triggers_;
    HandlerLists handlers_;
    DispatchRecorders recorders_{dispatcherLock_, clock_, deviceName_};
};

}  // namespace hydrix::comm
