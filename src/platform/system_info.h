// System facts for the header of the dispatch log: the operating system line and the
// local time.
#pragma once

#include <ctime>
#include <string>

namespace hydrix::platform {

// "Linux " and the kernel release, e.g. "Linux 6.1.0-18-amd64".
std::string OperatingSystemDescription();

// Local time as "dd/mm/yy, hh:mm:ss".
std::string LocalTimeText();
std::string LocalTimeText(std::time_t when);

}  // namespace hydrix::platform
