#include "comm/port_select.h"

#include <atomic>
#include <cctype>

#include "comm/exceptions.h"
#include "comm/posix_port_device.h"
#include "platform/serial_device.h"

namespace hydrix::comm {

namespace {

std::atomic<bool> g_throughDispatcher{true};
std::atomic<bool> g_showInUse{true};

// A device that exists but refused us: held by another opener, or no permission (the
// port's open then says which group grants access).
bool RefusedButPresent(int code) {
    return code == platform::kOpenInUse || code == platform::kOpenNoAccess;
}

// Opens the device and closes it again; the open's result.
template <typename Device>
int TryOpen(const std::string& name) {
    Device device;
    const int result = device.Open(name);
    if (result >= 0) {
        device.Close();
    }
    return result;
}

std::string ComName(int number) {
    return "COM" + std::to_string(number);
}

// The whole text as a decimal integer, as a strict string-to-integer conversion reads it.
std::optional<int> ParseInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i++] == '-';
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > 2147483647LL) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

}  // namespace

void SetTestPortsThroughDispatcher(bool value) {
    g_throughDispatcher = value;
}
bool TestPortsThroughDispatcher() {
    return g_throughDispatcher;
}
void SetShowPortsInUse(bool value) {
    g_showInUse = value;
}
bool ShowPortsInUse() {
    return g_showInUse;
}

bool IsPortAvailable(int number) {
    if (number == 0) {
        return false;
    }
    const std::string name = ComName(number);
    // Through the dispatcher's device layer, as opening the port would go, or straight
    // to the platform's device.
    const int result =
        TestPortsThroughDispatcher() ? TryOpen<PosixPortDevice>(name) : TryOpen<platform::SerialDevice>(name);
    if (result >= 0) {
        return true;
    }
    return ShowPortsInUse() && RefusedButPresent(result);
}

ComSelectModel::ComSelectModel(AvailabilityTest available) : available_(std::move(available)) {}

void ComSelectModel::FormCreate() {
    entries_.clear();
    for (int n = 1; n <= kHighestListedPort; ++n) {
        if (available_(n)) {
            entries_.push_back(ComName(n));
        }
    }
    itemIndex_ = entries_.empty() ? -1 : 0;
}

void ComSelectModel::SetItemIndex(int index) {
    itemIndex_ = index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1;
}

std::string ComSelectModel::SelectedText() const {
    return itemIndex_ >= 0 ? entries_[static_cast<size_t>(itemIndex_)] : std::string();
}

int ComSelectModel::SelectedNumber() const {
    const std::string text = SelectedText();
    const std::string digits = text.size() > 3 ? text.substr(3) : std::string();
    const std::optional<int> number = ParseInteger(digits);
    if (!number) {
        throw Exception("'" + digits + "' is not a valid integer value");
    }
    return *number;
}

std::optional<int> ComSelectModel::Choice() const {
    if (modalResult_ != ModalResult::mrOk) {
        return std::nullopt;
    }
    return SelectedNumber();
}

}  // namespace hydrix::comm
