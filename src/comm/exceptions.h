// Exceptions of the serial layer. Dispatcher operations return negative codes;
// CheckError turns them into the class mapped from the code, with the message
// from the message table (error_text.h).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "comm/component_base.h"

namespace hydrix::comm {

// Base of every exception the components raise: a message text and a help context.
class Exception : public std::exception {
public:
    explicit Exception(std::string message, int helpContext = 0)
        : message_(std::move(message)), helpContext_(helpContext) {}

    const std::string& Message() const { return message_; }
    int HelpContext() const { return helpContext_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
    int helpContext_;
};

// The runtime's input/output error (codes -2 ... -162); ErrorCode is the positive number.
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int32_t errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const { return errorCode_; }

private:
    int32_t errorCode_;
};

// The runtime's out-of-memory error (code -8).
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};

class ECommException : public Exception {
public:
    // Made from a code: ErrorCode is the code, the message its text.
    explicit ECommException(int32_t code);
    // Made from a message: ErrorCode 0.
    explicit ECommException(const std::string& message);
    explicit ECommException(const char* message) : ECommException(std::string(message)) {}

    int32_t ErrorCode() const { return errorCode_; }
    void SetErrorCode(int32_t code) { errorCode_ = code; }

private:
    int32_t errorCode_;
};

#define HYDRIX_COMM_EXCEPTION(Name, Base) \
    class Name : public Base {            \
    public:                               \
        using Base::Base;                 \
    }

HYDRIX_COMM_EXCEPTION(EGeneral, ECommException);
HYDRIX_COMM_EXCEPTION(EOpenComm, ECommException);
HYDRIX_COMM_EXCEPTION(ESerialIO, ECommException);
HYDRIX_COMM_EXCEPTION(EModem, ECommException);
HYDRIX_COMM_EXCEPTION(ETrigger, ECommException);
HYDRIX_COMM_EXCEPTION(EPacket, ECommException);
HYDRIX_COMM_EXCEPTION(EProtocol, ECommException);
HYDRIX_COMM_EXCEPTION(EINI, ECommException);
HYDRIX_COMM_EXCEPTION(EFax, ECommException);
HYDRIX_COMM_EXCEPTION(ETapi, ECommException);
HYDRIX_COMM_EXCEPTION(ERas, ECommException);

// General component errors (-1002 ... -1009).
HYDRIX_COMM_EXCEPTION(EBadArgument, EGeneral);
HYDRIX_COMM_EXCEPTION(EGotQuitMsg, EGeneral);
HYDRIX_COMM_EXCEPTION(EBufferTooBig, EGeneral);
HYDRIX_COMM_EXCEPTION(EPortNotAssigned, EGeneral);
HYDRIX_COMM_EXCEPTION(EInternal, EGeneral);
HYDRIX_COMM_EXCEPTION(EModemNotAssigned, EGeneral);
HYDRIX_COMM_EXCEPTION(EPhonebookNotAssigned, EGeneral);
HYDRIX_COMM_EXCEPTION(ECannotUseWithWinSock, EGeneral);

// Port opening errors (-2001 ... -2012).
HYDRIX_COMM_EXCEPTION(EBadId, EOpenComm);
HYDRIX_COMM_EXCEPTION(EBaudRate, EOpenComm);
HYDRIX_COMM_EXCEPTION(EByteSize, EOpenComm);
HYDRIX_COMM_EXCEPTION(EDefault, EOpenComm);
HYDRIX_COMM_EXCEPTION(EHardware, EOpenComm);
HYDRIX_COMM_EXCEPTION(EMemory, EOpenComm);
HYDRIX_COMM_EXCEPTION(ECommNotOpen, EOpenComm);
HYDRIX_COMM_EXCEPTION(EAlreadyOpen, EOpenComm);
HYDRIX_COMM_EXCEPTION(ENoHandles, EOpenComm);
HYDRIX_COMM_EXCEPTION(ENoTimers, EOpenComm);
HYDRIX_COMM_EXCEPTION(ENoPortSelected, EOpenComm);
HYDRIX_COMM_EXCEPTION(ENotOpenedByTapi, EOpenComm);

// Serial I/O errors of the dispatcher (-3001 ... -3010).
HYDRIX_COMM_EXCEPTION(ENullApi, ESerialIO);
HYDRIX_COMM_EXCEPTION(ERegisterHandlerFailed, ESerialIO);
HYDRIX_COMM_EXCEPTION(EPutBlockFail, ESerialIO);
HYDRIX_COMM_EXCEPTION(EGetBlockFail, ESerialIO);
HYDRIX_COMM_EXCEPTION(EOutputBufferTooSmall, ESerialIO);
HYDRIX_COMM_EXCEPTION(EBufferIsEmpty, ESerialIO);
HYDRIX_COMM_EXCEPTION(ETracingNotEnabled, ESerialIO);
HYDRIX_COMM_EXCEPTION(ELoggingNotEnabled, ESerialIO);
HYDRIX_COMM_EXCEPTION(EBaseAddressNotSet, ESerialIO);

// Trigger errors (-5001 ... -5003).
HYDRIX_COMM_EXCEPTION(ENoMoreTriggers, ETrigger);
HYDRIX_COMM_EXCEPTION(ETriggerTooLong, ETrigger);
HYDRIX_COMM_EXCEPTION(EBadTriggerHandle, ETrigger);

// Data packet property errors (-5501 ... -5505).
HYDRIX_COMM_EXCEPTION(EInvalidProperty, EPacket);

// Modem errors (-4001 ... -4008).
HYDRIX_COMM_EXCEPTION(EModemNotStarted, EModem);
HYDRIX_COMM_EXCEPTION(EModemBusy, EModem);
HYDRIX_COMM_EXCEPTION(EModemNotDialing, EModem);
HYDRIX_COMM_EXCEPTION(ENotDialing, EModem);
HYDRIX_COMM_EXCEPTION(EAlreadyDialing, EModem);
HYDRIX_COMM_EXCEPTION(EModemNotResponding, EModem);
HYDRIX_COMM_EXCEPTION(EModemRejectedCommand, EModem);
HYDRIX_COMM_EXCEPTION(EModemStatusMismatch, EModem);

// INI database errors (-7001 ... -7014).
HYDRIX_COMM_EXCEPTION(EKeyTooLong, EINI);
HYDRIX_COMM_EXCEPTION(EDataTooLarge, EINI);
HYDRIX_COMM_EXCEPTION(EIniWrite, EINI);
HYDRIX_COMM_EXCEPTION(EIniRead, EINI);
HYDRIX_COMM_EXCEPTION(ERecordExists, EINI);
HYDRIX_COMM_EXCEPTION(ERecordNotFound, EINI);
HYDRIX_COMM_EXCEPTION(EDatabaseFull, EINI);
HYDRIX_COMM_EXCEPTION(EDatabaseEmpty, EINI);
HYDRIX_COMM_EXCEPTION(EBadFieldList, EINI);
HYDRIX_COMM_EXCEPTION(EBadFieldForIndex, EINI);

// Fax, telephony and remote access: features this system does not use. The other codes
// of their groups raise the group class.
HYDRIX_COMM_EXCEPTION(EFaxBusy, EFax);
HYDRIX_COMM_EXCEPTION(ETapiBadDeviceID, ETapi);
HYDRIX_COMM_EXCEPTION(ERasLoadFail, ERas);

#undef HYDRIX_COMM_EXCEPTION

// Returns the code when it is 0 or positive, or when the component is being loaded
// (component may be null: never loading). Otherwise throws the exception mapped from
// the code and does not return.
int32_t CheckError(const Component* component, int32_t code);
inline int32_t CheckError(const Component& component, int32_t code) {
    return CheckError(&component, code);
}

// Throws the exception of a negative code as CheckError does, loading or not.
[[noreturn]] void RaiseError(int32_t code);

}  // namespace hydrix::comm
