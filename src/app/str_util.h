// String utilities of the station: the trimming and filtering that turn the instrument's
// reports into label captions and the capture file name, and the strict integer
// conversion applied to the host software's settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "comm/exceptions.h"

namespace hydrix::app {

// A text that is not a whole number: "'%s' is not a valid integer value".
class EConvertError : public comm::Exception {
public:
    using comm::Exception::Exception;
};

// A copy of s without every character that occurs in chars, order kept.
std::string FilterChars(std::string_view s, std::string_view chars);

// s without leading and trailing blanks and control characters (bytes up to 0x20).
std::string Trim(std::string_view s);

// Decimal (or "$"/"0x" hexadecimal) text with optional leading blanks and sign, in the
// range of a 32-bit integer; anything else raises EConvertError naming the text.
int32_t StrToInt(std::string_view s);

// One part of a file name made from instrument data: path separators, control
// characters, the characters a file name cannot hold on either platform (< > : " | ? *)
// runs of dots and bytes that are not UTF-8 become "_", and the part is cut to maxBytes,
// so that it can neither leave its directory nor make the name impossible to create, and
// the report (JSON, UTF-8) names the file exactly.
std::string SafeFileNamePart(std::string_view s, std::size_t maxBytes);

}  // namespace hydrix::app
