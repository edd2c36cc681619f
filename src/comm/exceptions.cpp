#include "comm/exceptions.h"

#include "comm/error_text.h"

namespace hydrix::comm {

ECommException::ECommException(int32_t code) : Exception(ErrorText(code)), errorCode_(code) {}

ECommException::ECommException(const std::string& message) : Exception(message), errorCode_(0) {}

namespace {

template <typename E>
[[noreturn]] void Raise(int32_t code) {
    throw E(code);
}

// Throws for codes with a class of their own; returns for the others.
void RaiseMapped(int32_t code) {
    switch (code) {
    case -1002:
        Raise<EBadArgument>(code);
    case -1003:
        Raise<EGotQuitMsg>(code);
    case -1004:
        Raise<EBufferTooBig>(code);
    case -1005:
        Raise<EPortNotAssigned>(code);
    case -1006:
        Raise<EInternal>(code);
    case -1007:
        Raise<EModemNotAssigned>(code);
    case -1008:
        Raise<EPhonebookNotAssigned>(code);
    case -1009:
        Raise<ECannotUseWithWinSock>(code);

    case -2001:
        Raise<EBadId>(code);
    case -2002:
        Raise<EBaudRate>(code);
    case -2003:
        Raise<EByteSize>(code);
    case -2004:
        Raise<EDefault>(code);
    case -2005:
        Raise<EHardware>(code);
    case -2006:
        Raise<EMemory>(code);
    case -2007:
        Raise<ECommNotOpen>(code);
    case -2008:
        Raise<EAlreadyOpen>(code);
    case -2009:
        Raise<ENoHandles>(code);
    case -2010:
        Raise<ENoTimers>(code);
    case -2011:
        Raise<ENoPortSelected>(code);
    case -2012:
        Raise<ENotOpenedByTapi>(code);

    case -3001:
        Raise<ENullApi>(code);
    case -3003:
        Raise<ERegisterHandlerFailed>(code);
    case -3004:
        Raise<EPutBlockFail>(code);
    case -3005:
        Raise<EGetBlockFail>(code);
    case -3006:
        Raise<EOutputBufferTooSmall>(code);
    case -3007:
        Raise<EBufferIsEmpty>(code);
    case -3008:
        Raise<ETracingNotEnabled>(code);
    case -3009:
        Raise<ELoggingNotEnabled>(code);
    case -3010:
        Raise<EBaseAddressNotSet>(code);

    case -4001:
        Raise<EModemNotStarted>(code);
    case -4002:
        Raise<EModemBusy>(code);
    case -4003:
        Raise<EModemNotDialing>(code);
    case -4004:
        Raise<ENotDialing>(code);
    case -4005:
        Raise<EAlreadyDialing>(code);
    case -4006:
        Raise<EModemNotResponding>(code);
    case -4007:
        Raise<EModemRejectedCommand>(code);
    case -4008:
        Raise<EModemStatusMismatch>(code);

    case -5001:
        Raise<ENoMoreTriggers>(code);
    case -5002:
        Raise<ETriggerTooLong>(code);
    case -5003:
        Raise<EBadTriggerHandle>(code);

    case -5501:
    case -5502:
    case -5503:
    case -5504:
    case -5505:
        Raise<EInvalidProperty>(code);

    case -6006:
    case -6008:
    case -6009:
        Raise<EProtocol>(code);

    case -7001:
        Raise<EKeyTooLong>(code);
    case -7002:
        Raise<EDataTooLarge>(code);
    case -7003:
    case -7006:
    case -7012:
        Raise<EInternal>(code);
    case -7004:
        Raise<EIniWrite>(code);
    case -7005:
        Raise<EIniRead>(code);
    case -7007:
        Raise<ERecordExists>(code);
    case -7008:
        Raise<ERecordNotFound>(code);
    case -7010:
        Raise<EDatabaseFull>(code);
    case -7011:
        Raise<EDatabaseEmpty>(code);
    case -7013:
        Raise<EBadFieldList>(code);
    case -7014:
        Raise<EBadFieldForIndex>(code);

    case -8064:
        Raise<EFaxBusy>(code);
    case -13802:
        Raise<ETapiBadDeviceID>(code);
    case -13980:
        Raise<ERasLoadFail>(code);
    default:
        break;
    }
    if ((code <= -8001 && code >= -8005) || code == -8053 || (code <= -8060 && code >= -8070)) {
        Raise<EFax>(code);
    }
    if ((code <= -13801 && code >= -13886) || (code <= -13928 && code >= -13942)) {
        Raise<ETapi>(code);
    }
}

}  // namespace

void RaiseError(int32_t code) {
    RaiseMapped(code);
    if (code == -8) {
        throw EOutOfMemory();
    }
    if (code <= -2 && code >= -162) {
        throw EInOutError(ErrorText(-code), -code);
    }
    throw ECommException("Comm exception");
}

int32_t CheckError(const Component* component, int32_t code) {
    if (code >= 0 || (component != nullptr && component->Loading())) {
        return code;
    }
    RaiseError(code);
}

}  // namespace hydrix::comm
