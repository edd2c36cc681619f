#include "comm/error_text.h"

#include <array>
#include <cstdlib>

#include "platform/file_system.h"

namespace hydrix::comm {
namespace {

// Ordered by ascending absolute code: the lookup halves the table.
constexpr ErrorEntry kMessages[] = {
    {0, "OK"},
    {-2, "File not found"},
    {-3, "Path not found"},
    {-4, "Too many open files"},
    {-5, "File access denied"},
    {-6, "Invalid file handle"},
    {-8, "Insufficient memory"},
    {-15, "Invalid drive"},
    {-18, "No more files"},
    {-100, "Attempt to read beyond end of file"},
    {-101, "Disk is full"},
    {-102, "File/device not assigned"},
    {-103, "File/device not open"},
    {-104, "File/device not open for input"},
    {-105, "File/device not open for output"},
    {-150, "Disk is write-protected"},
    {-151, "Unknown disk unit"},
    {-152, "Drive is not ready"},
    {-153, "Unknown command"},
    {-154, "Data error"},
    {-155, "Bad request structure length"},
    {-156, "Seek error"},
    {-157, "Unknown media type"},
    {-158, "Disk sector not found"},
    {-159, "Printer is out of paper"},
    {-160, "Device write error"},
    {-161, "Device read error"},
    {-162, "General failure"},
    {-1001, "Bad handle passed to com function"},
    {-1002, "Bad argument passed to function"},
    {-1003, "Got quit message"},
    {-1004, "Terminal buffer greater than 65521"},
    {-1005, "ComPort component not assigned"},
    {-1006, "Internal error creating window class"},
    {-1007, "Modem component not assigned"},
    {-1008, "Phonebook component not assigned"},
    {-1009, "Component not compatible with WinSock"},
    {-2001, "ie_BadId - Specified comport doesn't exist"},
    {-2002, "ie_Baudrate - unsupported baud rate"},
    {-2003, "ie_Bytesize - invalid byte size"},
    {-2004, "ie_Default - error in default parameters"},
    {-2005, "ie_Hardware - Specified comport in use"},
    {-2006, "ie_Memory - unable to allocate queues"},
    {-2007, "ie_NOpen - device not open"},
    {-2008, "ie_Open - device already open"},
    {-2009, "No more handles, can't open port"},
    {-2010, "No timers available"},
    {-2011, "The ComNumber property of the TComPort has not been set"},
    {-2012, "Comport was not opened by Tapi"},
    {-3001, "No device layer specified"},
    {-3002, "Function not supported by driver"},
    {-3003, "EnableCommNotification failed"},
    {-3004, "Failed to put entire block"},
    {-3005, "Failed to get entire block"},
    {-3006, "Output buffer too small for block"},
    {-3007, "Buffer is empty"},
    {-3008, "Tracing not enabled"},
    {-3009, "Logging not enabled"},
    {-3010, "Base address not set"},
    {-5001, "No more trigger slots"},
    {-5002, "Data trigger too long"},
    {-5003, "Bad trigger handle"},
    {-5501, "Start string is empty"},
    {-5502, "Packet size cannot be smaller than start string"},
    {-5503, "CharCount packets must have an end-condition"},
    {-5504, "End string is empty"},
    {-5505, "Packet size cannot be zero"},
    {-5506, "Packet too long"},
};

constexpr int32_t kMessageCount = static_cast<int32_t>(std::size(kMessages));

constexpr bool Ascending() {
    for (int32_t i = 1; i < kMessageCount; ++i) {
        if (-kMessages[i - 1].code >= -kMessages[i].code) {
            return false;
        }
    }
    return true;
}
static_assert(Ascending(), "the lookup halves the table, so it must be sorted");

std::string Cut(std::string text) {
    if (text.size() > kMaxErrorTextLength) {
        text.resize(kMaxErrorTextLength);
    }
    return text;
}

const char* FindMessage(int32_t k) {
    int32_t low = 0;
    int32_t high = kMessageCount - 1;
    while (high >= low) {
        // (low + high) / 2 with a half rounded to the even neighbour.
        const int32_t sum = low + high;
        int32_t middle = sum / 2;
        if (sum % 2 != 0 && middle % 2 != 0) {
            ++middle;
        }
        const int32_t entry = std::abs(kMessages[middle].code);
        if (k == entry) {
            return kMessages[middle].text;
        }
        if (k < entry) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return nullptr;
}

// The system's text on one line: control characters become spaces, no double spaces.
std::string SystemText(int32_t k) {
    std::string text;
    for (char c : platform::ErrorTextForErrno(k)) {
        if (static_cast<unsigned char>(c) < 32) {
            c = ' ';
        }
        if (c == ' ' && !text.empty() && text.back() == ' ') {
            continue;
        }
        text += c;
    }
    return text;
}

}  // namespace

std::span<const ErrorEntry> ErrorTable() {
    return kMessages;
}

std::string ErrorText(int32_t code) {
    const int32_t k = std::abs(static_cast<int32_t>(static_cast<int16_t>(static_cast<uint16_t>(code & 0xFFFF))));
    const char* message = FindMessage(k);
    if (message != nullptr && *message != '\0') {
        return Cut(message);
    }
    return Cut(SystemText(k));
}

}  // namespace hydrix::comm
