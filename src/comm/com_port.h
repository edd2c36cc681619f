// The com port component: what the station, the packet managers and the terminal hold
// to talk to one serial port. It keeps the settings, opens and closes the port by making
// and freeing a dispatcher, and turns the dispatcher's notifications into events on the
// GUI thread through its hidden window "ComPortWindow".
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "comm/component_base.h"
#include "comm/dispatcher.h"
#include "comm/trace.h"
#include "comm/triggers.h"
#include "platform/clock.h"
#include "platform/message_loop.h"

namespace hydrix::comm {

enum class DeviceLayerKind { dlWin32, dlWinsock };
enum class ParityKind { pNone, pOdd, pEven, pMark, pSpace };
enum class SWFlowKind { swfNone, swfReceive, swfTransmit, swfBoth };
enum class TapiModeKind { tmNone, tmAuto, tmOn, tmOff };
enum class PortState { StateClosed = 0, StateShuttingDown = 1, StateOpen = 2 };
// What a registered callback user is told.
// PortRemoved is the last notice a user gets: the port is being destroyed and must not
// be touched once the notice returns.
enum class PortCallbackKind { PortOpened = 0, PortClosing = 1, PortClosed = 2, PortRemoved = 3 };

// HWFlowOptions is a set of these bits; the set is also the dispatcher's option mask.
using HWFlowOptionSet = uint8_t;
constexpr HWFlowOptionSet hwfUseDTR = 0x01;
constexpr HWFlowOptionSet hwfUseRTS = 0x02;
constexpr HWFlowOptionSet hwfRequireDSR = 0x04;
constexpr HWFlowOptionSet hwfRequireCTS = 0x08;

// Notices sent to registered user windows.
constexpr uint32_t kPortOpenMsg = 0x7E08;
constexpr uint32_t kPortClosedMsg = 0x7E09;
constexpr uint32_t kPortClosingMsg = 0x7E0A;
constexpr uint32_t kPortRemovedMsg = 0x7E0B;
// The port's own window takes the closing number as its deferred-close message.
constexpr uint32_t kDeferredCloseMsg = 0x7E0A;

constexpr uint32_t kMaxTraceSize = 4000000;
constexpr uint32_t kMaxLogSize = 16000000;

class CustomComPort;

using PortNotifyEvent = std::function<void(CustomComPort& port)>;
using TriggerEvent = std::function<void(CustomComPort& port, uint32_t msg, uint16_t triggerHandle, uint16_t data)>;
using TriggerAvailEvent = std::function<void(CustomComPort& port, uint16_t count)>;
using TriggerDataEvent = std::function<void(CustomComPort& port, uint16_t triggerHandle)>;
using TriggerStatusEvent = TriggerDataEvent;
using TriggerTimerEvent = TriggerDataEvent;
using TriggerLineErrorEvent = std::function<void(CustomComPort& port, uint16_t error, bool lineBreak)>;
using WaitCharEvent = std::function<void(CustomComPort& port, char c)>;
using PortCallback = std::function<void(CustomComPort& port, PortCallbackKind kind)>;
using DispatcherFactoryProc = std::function<std::unique_ptr<BaseDispatcher>(CustomComPort& port)>;

class CustomComPort : public BaseComponent {
public:
    explicit CustomComPort(platform::Clock& clock = platform::SystemClock());
    ~CustomComPort() override;
    CustomComPort(const CustomComPort&) = delete;
    CustomComPort& operator=(const CustomComPort&) = delete;

    // Settings -------------------------------------------------------------------------
    DeviceLayerKind DeviceLayer() const { return deviceLayer_; }
    void SetDeviceLayer(DeviceLayerKind value);
    uint16_t ComNumber() const { return comNumber_; }
    void SetComNumber(uint16_t value);
    int32_t Baud() const { return baud_; }
    void SetBaud(int32_t value) {
        baud_ = value;
        ApplyLineSettings();
    }
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool value) { promptForPort_ = value; }
    ParityKind Parity() const { return parity_; }
    void SetParity(ParityKind value) {
        parity_ = value;
        ApplyLineSettings();
    }
    uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(uint16_t value) {
        dataBits_ = value;
        ApplyLineSettings();
    }
    uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(uint16_t value) {
        stopBits_ = value;
        ApplyLineSettings();
    }
    uint16_t InSize() const { return inSize_; }
    void SetInSize(uint16_t value) {
        inSize_ = value;
        SizeDriverQueues();
    }
    uint16_t OutSize() const { return outSize_; }
    void SetOutSize(uint16_t value) {
        outSize_ = value;
        SizeDriverQueues();
    }
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    bool Open() const { return open_; }
    void SetOpen(bool value);
    bool DTR() const { return dtr_; }
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    HWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(HWFlowOptionSet value);
    SWFlowKind SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(SWFlowKind value);
    char XOnChar() const { return xOnChar_; }
    void SetXOnChar(char value);
    char XOffChar() const { return xOffChar_; }
    void SetXOffChar(char value);
    uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(uint16_t value);
    uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(uint16_t value);
    TraceLogState Tracing() const { return tracing_; }
    void SetTracing(TraceLogState value);
    uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(uint32_t value);
    const std::string& TraceName() const { return traceName_; }
    void SetTraceName(const std::string& value);
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool value) { traceHex_ = value; }
    bool TraceAllHex() const { return traceAllHex_; }
    void SetTraceAllHex(bool value) { traceAllHex_ = value; }
    TraceLogState Logging() const { return logging_; }
    void SetLogging(TraceLogState value);
    uint32_t LogSize() const { return logSize_; }
    void SetLogSize(uint32_t value);
    const std::string& LogName() const { return logName_; }
    void SetLogName(const std::string& value);
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool value) { logHex_ = value; }
    bool LogAllHex() const { return logAllHex_; }
    void SetLogAllHex(bool value) { logAllHex_ = value; }
    bool UseMSRShadow() const { return true; }
    virtual void SetUseMSRShadow(bool value);
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool value);
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(uint16_t value) { commNotificationLevel_ = value; }
    TapiModeKind TapiMode() const { return tapiMode_; }
    void SetTapiMode(TapiModeKind value) { tapiMode_ = value; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool value);
    uint16_t TriggerLength() const { return triggerLength_; }
    void SetTriggerLength(uint16_t value);
    uint8_t ThreadBoost() const { return threadBoost_; }
    void SetThreadBoost(uint8_t value);
    // The layers this component accepts: only dlWin32 (the platform's serial device).
    bool DeviceLayerAccepted(DeviceLayerKind layer) const { return layer == DeviceLayerKind::dlWin32; }
    // Makes the dispatcher for an open instead of the default device layer (tests, tools).
    void SetDispatcherFactory(DispatcherFactoryProc factory) { dispatcherFactory_ = std::move(factory); }
    // The terminal control linked to this port (set and cleared by the terminal).
    BaseWinControl* LinkedTerminal() const { return linkedTerminal_; }
    void SetLinkedTerminal(BaseWinControl* terminal) { linkedTerminal_ = terminal; }

    // Events ---------------------------------------------------------------------------
    const PortNotifyEvent& OnPortOpen() const { return onPortOpen_; }
    void SetOnPortOpen(PortNotifyEvent handler) { onPortOpen_ = std::move(handler); }
    const PortNotifyEvent& OnPortClose() const { return onPortClose_; }
    void SetOnPortClose(PortNotifyEvent handler) { onPortClose_ = std::move(handler); }
    const TriggerEvent& OnTrigger() const { return onTrigger_; }
    void SetOnTrigger(TriggerEvent handler) { SetTriggerEvent(onTrigger_, std::move(handler)); }
    const TriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    void SetOnTriggerAvail(TriggerAvailEvent handler) { SetTriggerEvent(onTriggerAvail_, std::move(handler)); }
    const TriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
    void SetOnTriggerData(TriggerDataEvent handler) { SetTriggerEvent(onTriggerData_, std::move(handler)); }
    const TriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    void SetOnTriggerStatus(TriggerStatusEvent handler) { SetTriggerEvent(onTriggerStatus_, std::move(handler)); }
    const TriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
    void SetOnTriggerTimer(TriggerTimerEvent handler) { SetTriggerEvent(onTriggerTimer_, std::move(handler)); }
    const TriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
    void SetOnTriggerLineError(TriggerLineErrorEvent handler) {
        SetTriggerEvent(onTriggerLineError_, std::move(handler));
    }
    const PortNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void SetOnTriggerModemStatus(PortNotifyEvent handler) {
        SetTriggerEvent(onTriggerModemStatus_, std::move(handler));
    }
    const PortNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void SetOnTriggerOutbuffFree(PortNotifyEvent handler) {
        SetTriggerEvent(onTriggerOutbuffFree_, std::move(handler));
    }
    const PortNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void SetOnTriggerOutbuffUsed(PortNotifyEvent handler) {
        SetTriggerEvent(onTriggerOutbuffUsed_, std::move(handler));
    }
    const PortNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
    void SetOnTriggerOutSent(PortNotifyEvent handler) { SetTriggerEvent(onTriggerOutSent_, std::move(handler)); }
    // The device went away while the port was open (a pulled USB adapter): raised once
    // per open, on the GUI thread. The port stays open until it is closed.
    const PortNotifyEvent& OnDeviceLost() const { return onDeviceLost_; }
    void SetOnDeviceLost(PortNotifyEvent handler) { onDeviceLost_ = std::move(handler); }
    const WaitCharEvent& OnWaitChar() const { return onWaitChar_; }
    void SetOnWaitChar(WaitCharEvent handler) { onWaitChar_ = std::move(handler); }

    // State ----------------------------------------------------------------------------
    PortState State() const { return state_; }
    // The dispatcher, opening the port first when AutoOpen allows; nullptr when closed.
    BaseDispatcher* ActiveDispatcher();
    // ActiveDispatcher, raising -2007 when there is none.
    BaseDispatcher& RequireDispatcher();
    // The dispatcher as it is, without opening anything.
    BaseDispatcher* Dispatcher() const { return dispatcher_.get(); }
    platform::WindowHandle PortWindow() const { return portWindow_; }
    bool ReopenPending() const { return reopenPending_; }
    bool TriggersSaved() const { return triggersSaved_; }
    const TriggerSnapshot& SavedTriggers() const { return savedTriggers_; }
    platform::Clock& Clock() const { return clock_; }

    // Settings have been loaded: runs the open that was stored while loading.
    void Loaded();

    // Operations -------------------------------------------------------------------------
    void SendString(const std::string& text);
    void SendChar(char c);
    void TransmitBreak(uint16_t ticks, bool pump);
    uint16_t NewDataTrigger(const std::string& text, bool ignoreCase);
    uint16_t NewTimerTrigger();
    void ArmTimerTrigger(uint16_t handle, int32_t ticks, bool activate);
    void DeleteTrigger(uint16_t handle);
    uint16_t LineError();
    bool LineBreakSeen();

    void StartTracing(uint32_t size = 0);
    void StopTracing();
    void DumpTrace();
    void AppendTrace();
    void ClearTrace();
    void PauseTrace();
    void ResumeTrace();
    void StartLogging(uint32_t size = 0);
    void StopLogging();
    void DumpLog();
    void AppendLog();
    void ClearLog();
    void PauseLogging();
    void ResumeLogging();

    // Registered users, told when the port opens, is about to close and has closed.
    void RegisterWindowUser(platform::WindowHandle window);
    void DeregisterWindowUser(platform::WindowHandle window);
    // A callback user is known by its object: deregistering removes that object's records.
    void RegisterCallbackUser(const void* object, PortCallback callback);
    void DeregisterCallbackUser(const void* object);
    size_t UserCount() const { return users_.size(); }

    // Copies another port's settings, users and basic events; stays closed.
    void Assign(const CustomComPort& other);

    // Virtual operations -------------------------------------------------------------------
    virtual std::unique_ptr<BaseDispatcher> CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual int OpenPortDevice();
    virtual void SetupPortWindow(bool create);
    virtual void ValidatePortNumber();
    virtual void DoTrigger(uint32_t msg, uint16_t triggerHandle, uint16_t data) {
        Raise(onTrigger_, msg, triggerHandle, data);
    }
    virtual void DoTriggerAvail(uint16_t count) { Raise(onTriggerAvail_, count); }
    virtual void DoTriggerData(uint16_t triggerHandle) { Raise(onTriggerData_, triggerHandle); }
    virtual void DoTriggerStatus(uint16_t triggerHandle) { Raise(onTriggerStatus_, triggerHandle); }
    virtual void DoTriggerTimer(uint16_t triggerHandle) { Raise(onTriggerTimer_, triggerHandle); }
    virtual void UpdateHandlerFlags();
    virtual void DoTriggerLineError(uint16_t error, bool lineBreak) { Raise(onTriggerLineError_, error, lineBreak); }
    virtual void DoTriggerModemStatus() { Raise(onTriggerModemStatus_); }
    virtual void DoTriggerOutbuffFree() { Raise(onTriggerOutbuffFree_); }
    virtual void DoTriggerOutbuffUsed() { Raise(onTriggerOutbuffUsed_); }
    virtual void DoTriggerOutSent() { Raise(onTriggerOutSent_); }
    virtual void DoWaitChar(char c) { Raise(onWaitChar_, c); }
    virtual void ClosePort();
    virtual void YieldToDispatcher();
    virtual void OpenPort();
    virtual void NotifyClosing();
    virtual void NotifyClosed();
    virtual void NotifyOpened();

private:
    // Trigger events decide whether the dispatcher notifies the port's window at all.
    template <typename Event>
    void SetTriggerEvent(Event& slot, Event handler) {
        slot = std::move(handler);
        UpdateHandlerFlags();
    }
    // A handler may replace itself while it runs, so each is called through a copy.
    template <typename Event, typename... Args>
    void Raise(const Event& event, Args... args) {
        if (auto handler = event) {
            handler(*this, args...);
        }
    }

    struct UserRecord {
        platform::WindowHandle Window = 0;
        const void* Object = nullptr;
        PortCallback Callback;
    };

    bool ShuttingDown() const { return state_ == PortState::StateShuttingDown; }
    bool IsOpenState() const { return state_ == PortState::StateOpen; }
    bool AnyTriggerEvent() const;
    // Frees the dispatcher and its window; the port is closed afterwards.
    void FinishClose();
    // 32266 at the port's window: finishes a close left pending by a delivery.
    void DeferredClose(platform::LParam param);
    // Window procedure of "ComPortWindow": finds the port through the registry.
    static platform::LResult PortWindowProc(uint32_t msg, platform::WParam w, platform::LParam l);
    void HandleNotification(uint32_t msg, platform::WParam w, platform::LParam l);
    // Tells the users, from the last registered to the first: callbacks get kind, windows msg.
    void NotifyUsers(PortCallbackKind kind, uint32_t msg);
    int TranslateOpenResult(int code) const;
    // When open: the line settings, the driver's queue sizes reach the device.
    void ApplyLineSettings();
    void SizeDriverQueues();
    // Writes one setting of to with from's value, through its setter.
    using SettingCopy = void (*)(CustomComPort& to, const CustomComPort& from);
    // Writes each setting again with its own value, forced through to the dispatcher.
    void ForceSettings(std::span<const SettingCopy> settings);
    void ApplySettingsOnOpen();
    void ReapplyFlow();
    void ApplyTraceState(TraceLogState value, bool log);
    void WriteTraceOrLog(bool log, bool append);

    platform::Clock& clock_;
    DeviceLayerKind deviceLayer_ = DeviceLayerKind::dlWin32;
    uint16_t comNumber_ = 0;
    int32_t baud_ = 19200;
    bool promptForPort_ = true;
    ParityKind parity_ = ParityKind::pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    HWFlowOptionSet hwFlowOptions_ = 0;
    SWFlowKind swFlowOptions_ = SWFlowKind::swfNone;
    char xOnChar_ = 17;
    char xOffChar_ = 19;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TraceLogState tracing_ = TraceLogState::tlOff;
    uint32_t traceSize_ = 10000;
    std::string traceName_ = "SERIAL.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    TraceLogState logging_ = TraceLogState::tlOff;
    uint32_t logSize_ = 10000;
    std::string logName_ = "SERIAL.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    bool useEventWord_ = true;
    uint16_t commNotificationLevel_ = 10;
    TapiModeKind tapiMode_ = TapiModeKind::tmAuto;
    bool rs485Mode_ = false;
    uint16_t triggerLength_ = 1;
    uint8_t threadBoost_ = 0;
    DispatcherFactoryProc dispatcherFactory_;
    BaseWinControl* linkedTerminal_ = nullptr;

    PortNotifyEvent onPortOpen_;
    PortNotifyEvent onPortClose_;
    TriggerEvent onTrigger_;
    TriggerAvailEvent onTriggerAvail_;
    TriggerDataEvent onTriggerData_;
    TriggerStatusEvent onTriggerStatus_;
    TriggerTimerEvent onTriggerTimer_;
    TriggerLineErrorEvent onTriggerLineError_;
    PortNotifyEvent onTriggerModemStatus_;
    PortNotifyEvent onTriggerOutbuffFree_;
    PortNotifyEvent onTriggerOutbuffUsed_;
    PortNotifyEvent onTriggerOutSent_;
    PortNotifyEvent onDeviceLost_;
    WaitCharEvent onWaitChar_;

    PortState state_ = PortState::StateClosed;
    std::unique_ptr<BaseDispatcher> dispatcher_;
    platform::WindowHandle portWindow_ = 0;
    std::vector<std::shared_ptr<UserRecord>> users_;
    TriggerSnapshot savedTriggers_;
    bool triggersSaved_ = false;
    bool reopenPending_ = false;
    bool openAtLoad_ = false;
    bool forceApply_ = false;
    bool destroying_ = false;
};

// The published form of the port; all behaviour is in CustomComPort.
class ComPort : public CustomComPort {
public:
    using CustomComPort::CustomComPort;
};

}  // namespace hydrix::comm
