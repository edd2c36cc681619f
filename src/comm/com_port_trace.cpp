// The port's tracing and dispatch-logging properties: how a state written to Tracing or
// Logging maps onto the dispatcher's trace and log operations.
#include <algorithm>

#include "comm/com_port.h"
#include "comm/exceptions.h"

namespace hydrix::comm {

void CustomComPort::ApplyTraceState(TraceLogState value, bool log) {
    TraceLogState& state = log ? logging_ : tracing_;
    if (value == state && !forceApply_) {
        return;
    }
    if (!IsOpenState()) {
        state = (value == TraceLogState::tlOff || value == TraceLogState::tlOn) ? value : TraceLogState::tlOff;
        return;
    }
    const bool wasOn = state == TraceLogState::tlOn;
    const bool paused = state == TraceLogState::tlPause;
    switch (value) {
    case TraceLogState::tlOff:
        if (wasOn || paused) {
            log ? StopLogging() : StopTracing();
        }
        break;
    case TraceLogState::tlOn:
        if (paused) {
            log ? ResumeLogging() : ResumeTrace();
        } else {
            log ? StartLogging(logSize_) : StartTracing(traceSize_);
        }
        break;
    case TraceLogState::tlDump:
    case TraceLogState::tlAppend:
        if (wasOn || paused) {
            log ? ResumeLogging() : ResumeTrace();
            WriteTraceOrLog(log, value == TraceLogState::tlAppend);
        }
        break;
    case TraceLogState::tlClear:
        if (wasOn || paused) {
            log ? ClearLog() : ClearTrace();
        }
        break;
    case TraceLogState::tlPause:
        if (wasOn) {
            log ? PauseLogging() : PauseTrace();
        }
        break;
    }
}

void CustomComPort::WriteTraceOrLog(bool log, bool append) {
    if (log) {
        append ? AppendLog() : DumpLog();
    } else {
        append ? AppendTrace() : DumpTrace();
    }
}

void CustomComPort::SetTracing(TraceLogState value) {
    ApplyTraceState(value, false);
}

void CustomComPort::SetLogging(TraceLogState value) {
    ApplyTraceState(value, true);
}

void CustomComPort::SetTraceSize(uint32_t value) {
    traceSize_ = std::min(value, kMaxTraceSize);
    if (IsOpenState() && (tracing_ == TraceLogState::tlOn || tracing_ == TraceLogState::tlPause)) {
        const TraceLogState previous = tracing_;
        StopTracing();
        SetTracing(previous);
    }
}

void CustomComPort::SetLogSize(uint32_t value) {
    logSize_ = std::min(value, kMaxLogSize);
    if (IsOpenState() && (logging_ == TraceLogState::tlOn || logging_ == TraceLogState::tlPause)) {
        const TraceLogState previous = logging_;
        StopLogging();
        SetLogging(previous);
    }
}

void CustomComPort::SetTraceName(const std::string& value) {
    traceName_ = value.substr(0, 255);
}

void CustomComPort::SetLogName(const std::string& value) {
    logName_ = value.substr(0, 255);
}

// Trace operations -------------------------------------------------------------------------------

void CustomComPort::StartTracing(uint32_t size) {
    if (ShuttingDown()) {
        return;
    }
    if (size != 0) {
        traceSize_ = std::min(size, kMaxTraceSize);
    }
    CheckError(this, RequireDispatcher().Recorders().TraceStart(traceSize_));
    tracing_ = TraceLogState::tlOn;
}

void CustomComPort::StopTracing() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().TraceStop();
    tracing_ = TraceLogState::tlOff;
}

void CustomComPort::DumpTrace() {
    if (ShuttingDown()) {
        return;
    }
    BaseDispatcher& dispatcher = RequireDispatcher();
    // Writing ends the trace whether or not the file could be written.
    tracing_ = TraceLogState::tlOff;
    CheckError(this, dispatcher.Recorders().TraceWrite(traceName_, false, traceAllHex_, traceHex_));
}

void CustomComPort::AppendTrace() {
    if (ShuttingDown()) {
        return;
    }
    BaseDispatcher& dispatcher = RequireDispatcher();
    tracing_ = TraceLogState::tlOff;
    CheckError(this, dispatcher.Recorders().TraceWrite(traceName_, true, traceAllHex_, traceHex_));
}

void CustomComPort::ClearTrace() {
    if (ShuttingDown()) {
        return;
    }
    CheckError(this, RequireDispatcher().Recorders().TraceReset());
}

void CustomComPort::PauseTrace() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().TracePause();
    tracing_ = TraceLogState::tlPause;
}

void CustomComPort::ResumeTrace() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().TraceResume();
    tracing_ = TraceLogState::tlOn;
}

// Log operations ---------------------------------------------------------------------------------

void CustomComPort::StartLogging(uint32_t size) {
    if (ShuttingDown()) {
        return;
    }
    if (size != 0) {
        logSize_ = std::min(size, kMaxLogSize);
    }
    CheckError(this, RequireDispatcher().Recorders().LogStart(logSize_));
    logging_ = TraceLogState::tlOn;
}

void CustomComPort::StopLogging() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().LogStop();
    logging_ = TraceLogState::tlOff;
}

void CustomComPort::DumpLog() {
    if (ShuttingDown()) {
        return;
    }
    BaseDispatcher& dispatcher = RequireDispatcher();
    logging_ = TraceLogState::tlOff;
    CheckError(this, dispatcher.Recorders().LogWrite(logName_, false, logAllHex_, logHex_));
}

void CustomComPort::AppendLog() {
    if (ShuttingDown()) {
        return;
    }
    BaseDispatcher& dispatcher = RequireDispatcher();
    logging_ = TraceLogState::tlOff;
    CheckError(this, dispatcher.Recorders().LogWrite(logName_, true, logAllHex_, logHex_));
}

void CustomComPort::ClearLog() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().LogReset();
}

void CustomComPort::PauseLogging() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().LogPause();
    logging_ = TraceLogState::tlPause;
}

void CustomComPort::ResumeLogging() {
    if (ShuttingDown()) {
        return;
    }
    RequireDispatcher().Recorders().LogResume();
    logging_ = TraceLogState::tlOn;
}

}  // namespace hydrix::comm
