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

// The codes with an exception class of their own.
struct ClassOfCode {
    int32_t code;
    void (*raise)(int32_t);
};

constexpr ClassOfCode kClassOfCode[] = {
    {-1002, &Raise<EBadArgument>},
    {-1003, &Raise<EGotQuitMsg>},
    {-1004, &Raise<EBufferTooBig>},
    {-1005, &Raise<EPortNotAssigned>},
    {-1006, &Raise<EInternal>},
    {-1007, &Raise<EModemNotAssigned>},
    {-1008, &Raise<EPhonebookNotAssigned>},
    {-1009, &Raise<ECannotUseWithWinSock>},
    {-2001, &Raise<EBadId>},
    {-2002, &Raise<EBaudRate>},
    {-2003, &Raise<EByteSize>},
    {-2004, &Raise<EDefault>},
    {-2005, &Raise<EHardware>},
    {-2006, &Raise<EMemory>},
    {-2007, &Raise<ECommNotOpen>},
    {-2008, &Raise<EAlreadyOpen>},
    {-2009, &Raise<ENoHandles>},
    {-2010, &Raise<ENoTimers>},
    {-2011, &Raise<ENoPortSelected>},
    {-2012, &Raise<ENotOpenedByTapi>},
    {-3001, &Raise<ENullApi>},
    {-3003, &Raise<ERegisterHandlerFailed>},
    {-3004, &Raise<EPutBlockFail>},
    {-3005, &Raise<EGetBlockFail>},
    {-3006, &Raise<EOutputBufferTooSmall>},
    {-3007, &Raise<EBufferIsEmpty>},
    {-3008, &Raise<ETracingNotEnabled>},
    {-3009, &Raise<ELoggingNotEnabled>},
    {-3010, &Raise<EBaseAddressNotSet>},
    {-4001, &Raise<EModemNotStarted>},
    {-4002, &Raise<EModemBusy>},
    {-4003, &Raise<EModemNotDialing>},
    {-4004, &Raise<ENotDialing>},
    {-4005, &Raise<EAlreadyDialing>},
    {-4006, &Raise<EModemNotResponding>},
    {-4007, &Raise<EModemRejectedCommand>},
    {-4008, &Raise<EModemStatusMismatch>},
    {-5001, &Raise<ENoMoreTriggers>},
    {-5002, &Raise<ETriggerTooLong>},
    {-5003, &Raise<EBadTriggerHandle>},
    {-5501, &Raise<EInvalidProperty>},
    {-5502, &Raise<EInvalidProperty>},
    {-5503, &Raise<EInvalidProperty>},
    {-5504, &Raise<EInvalidProperty>},
    {-5505, &Raise<EInvalidProperty>},
    {-6006, &Raise<EProtocol>},
    {-6008, &Raise<EProtocol>},
    {-6009, &Raise<EProtocol>},
    {-7001, &Raise<EKeyTooLong>},
    {-7002, &Raise<EDataTooLarge>},
    {-7003, &Raise<EInternal>},
    {-7006, &Raise<EInternal>},
    {-7012, &Raise<EInternal>},
    {-7004, &Raise<EIniWrite>},
    {-7005, &Raise<EIniRead>},
    {-7007, &Raise<ERecordExists>},
    {-7008, &Raise<ERecordNotFound>},
    {-7010, &Raise<EDatabaseFull>},
    {-7011, &Raise<EDatabaseEmpty>},
    {-7013, &Raise<EBadFieldList>},
    {-7014, &Raise<EBadFieldForIndex>},
    {-8064, &Raise<EFaxBusy>},
    {-13802, &Raise<ETapiBadDeviceID>},
    {-13980, &Raise<ERasLoadFail>},
};

// Throws for codes with a class of their own; returns for the others.
void RaiseMapped(int32_t code) {
    for (const ClassOfCode& entry : kClassOfCode) {
        if (entry.code == code) {
            entry.raise(code);
        }
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
