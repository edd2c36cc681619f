#include <gtest/gtest.h>

#include <typeindex>
#include <typeinfo>

#include "comm/component_base.h"
#include "comm/error_text.h"
#include "comm/exceptions.h"
#include "platform/file_system.h"

namespace hydrix::comm {
namespace {

TEST(ErrorText, LooksUpByAbsoluteLow16Bits) {
    const std::string portUnset = "The ComNumber property of the TComPort has not been set";
    EXPECT_EQ(ErrorText(-2011), portUnset);
    EXPECT_EQ(ErrorText(2011), portUnset);
    EXPECT_EQ(ErrorText(-2011 - 0x10000), portUnset);
    EXPECT_EQ(ErrorText(0), "OK");
    EXPECT_EQ(ErrorText(-2), "File not found");
    EXPECT_EQ(ErrorText(-162), "General failure");
    EXPECT_EQ(ErrorText(-1001), "Bad handle passed to com function");
    EXPECT_EQ(ErrorText(-5506), "Packet too long");
}

// The halving search must reach every entry, including both ends and the odd midpoints.
TEST(ErrorText, FindsEveryEntryOfTheTable) {
    for (const ErrorEntry& entry : ErrorTable()) {
        EXPECT_EQ(ErrorText(entry.code), entry.text) << entry.code;
    }
}

TEST(ErrorText, FallsBackToTheSystemTextOnOneLine) {
    const std::string text = ErrorText(-32);
    EXPECT_EQ(text, platform::ErrorTextForErrno(32));
    EXPECT_EQ(text.find("  "), std::string::npos);
    for (char c : text) {
        EXPECT_GE(static_cast<unsigned char>(c), 32u);
    }
    EXPECT_EQ(ErrorText(-4009), platform::ErrorTextForErrno(4009));
    EXPECT_LE(ErrorText(-4009).size(), kMaxErrorTextLength);
}

TEST(ECommExceptionTest, MadeFromCodeOrMessage) {
    const ECommException fromCode(-2005);
    EXPECT_EQ(fromCode.ErrorCode(), -2005);
    EXPECT_EQ(fromCode.Message(), "ie_Hardware - Specified comport in use");
    EXPECT_STREQ(fromCode.what(), "ie_Hardware - Specified comport in use");

    const ECommException fromText("Comm exception");
    EXPECT_EQ(fromText.ErrorCode(), 0);
    EXPECT_EQ(fromText.Message(), "Comm exception");
}

TEST(CheckError, PassesSuccessAndCounts) {
    BaseComponent port;
    EXPECT_EQ(CheckError(port, 5), 5);
    EXPECT_EQ(CheckError(port, 0), 0);
    EXPECT_EQ(CheckError(nullptr, 7), 7);
}

TEST(CheckError, ReturnsNegativeCodesWhileLoading) {
    BaseComponent port;
    port.SetLoading(true);
    EXPECT_EQ(CheckError(port, -2001), -2001);
    EXPECT_EQ(CheckError(port, -2), -2);
    port.SetLoading(false);
    EXPECT_THROW(CheckError(port, -2001), EBadId);
    EXPECT_THROW(CheckError(nullptr, -2001), EBadId);
}

TEST(CheckError, RaisesTheClassOfTheCode) {
    BaseComponent port;
    try {
        CheckError(port, -2001);
        FAIL() << "no exception";
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode(), -2001);
        EXPECT_EQ(e.Message(), "ie_BadId - Specified comport doesn't exist");
    }

    const struct {
        int32_t code;
        std::type_index type;
    } cases[] = {
        {-1002, typeid(EBadArgument)},
        {-1009, typeid(ECannotUseWithWinSock)},
        {-2008, typeid(EAlreadyOpen)},
        {-2011, typeid(ENoPortSelected)},
        {-3001, typeid(ENullApi)},
        {-3006, typeid(EOutputBufferTooSmall)},
        {-3007, typeid(EBufferIsEmpty)},
        {-3010, typeid(EBaseAddressNotSet)},
        {-4001, typeid(EModemNotStarted)},
        {-4008, typeid(EModemStatusMismatch)},
        {-5001, typeid(ENoMoreTriggers)},
        {-5003, typeid(EBadTriggerHandle)},
        {-5501, typeid(EInvalidProperty)},
        {-5505, typeid(EInvalidProperty)},
        {-6008, typeid(EProtocol)},
        {-7001, typeid(EKeyTooLong)},
        {-7003, typeid(EInternal)},
        {-7014, typeid(EBadFieldForIndex)},
        {-8001, typeid(EFax)},
        {-8064, typeid(EFaxBusy)},
        {-8070, typeid(EFax)},
        {-13801, typeid(ETapi)},
        {-13802, typeid(ETapiBadDeviceID)},
        {-13942, typeid(ETapi)},
        {-13980, typeid(ERasLoadFail)},
    };
    for (const auto& c : cases) {
        try {
            CheckError(port, c.code);
            ADD_FAILURE() << c.code << ": no exception";
        } catch (const ECommException& e) {
            EXPECT_EQ(std::type_index(typeid(e)), c.type) << c.code;
            EXPECT_EQ(e.ErrorCode(), c.code);
        }
    }
}

TEST(CheckError, CodesWithoutAClassRaiseTheGenericException) {
    BaseComponent port;
    for (int32_t code : {-1001, -3002, -5506, -4009, -1167, -6001, -8006, -13887, -70000}) {
        try {
            CheckError(port, code);
            ADD_FAILURE() << code << ": no exception";
        } catch (const ECommException& e) {
            EXPECT_EQ(std::type_index(typeid(e)), std::type_index(typeid(ECommException))) << code;
            EXPECT_EQ(e.ErrorCode(), 0) << code;
            EXPECT_EQ(e.Message(), "Comm exception") << code;
        }
    }
}

TEST(CheckError, FileErrorsRaiseTheRuntimeInOutError) {
    BaseComponent port;
    try {
        CheckError(port, -2);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
        EXPECT_EQ(e.Message(), "File not found");
    }
    try {
        CheckError(port, -32);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 32);
        EXPECT_EQ(e.Message(), ErrorText(32));
    }
    try {
        CheckError(port, -162);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 162);
    }
    // Just outside the range: no class, generic.
    EXPECT_THROW(CheckError(port, -163), ECommException);
    EXPECT_THROW(CheckError(port, -1), ECommException);
}

TEST(CheckError, InsufficientMemoryRaisesOutOfMemory) {
    BaseComponent port;
    try {
        CheckError(port, -8);
        FAIL() << "no exception";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(), "Out of memory");
    }
}

TEST(CheckError, GroupCatchesTakeTheirWholeGroupOnly) {
    BaseComponent port;
    for (int32_t code = -2001; code >= -2012; --code) {
        EXPECT_THROW(CheckError(port, code), EOpenComm) << code;
    }
    for (int32_t code = -1002; code >= -1009; --code) {
        EXPECT_THROW(CheckError(port, code), EGeneral) << code;
    }
    for (int32_t code : {-3001, -3003, -3004, -3005, -3006, -3007, -3008, -3009, -3010}) {
        EXPECT_THROW(CheckError(port, code), ESerialIO) << code;
    }
    for (int32_t code = -5001; code >= -5003; --code) {
        EXPECT_THROW(CheckError(port, code), ETrigger) << code;
    }
    EXPECT_THROW(CheckError(port, -5502), EPacket);

    // A catch of ECommException does not take the runtime's errors.
    for (int32_t code : {-2, -8, -100}) {
        bool caughtAsComm = false;
        bool caughtAsBase = false;
        try {
            CheckError(port, code);
        } catch (const ECommException&) {
            caughtAsComm = true;
        } catch (const Exception&) {
            caughtAsBase = true;
        }
        EXPECT_FALSE(caughtAsComm) << code;
        EXPECT_TRUE(caughtAsBase) << code;
    }
    // Everything derives from std::exception for the application's report.
    EXPECT_THROW(CheckError(port, -2001), std::exception);
}

}  // namespace
}  // namespace hydrix::comm
