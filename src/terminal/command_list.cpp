#include "terminal/command_list.h"

#include <cctype>

namespace hydrix::terminal {

EmuCommandParamsItem& EmuCommandParams::Add(std::string name, std::string value) {
    EmuCommandParamsItem& item = Add();
    item.SetName(std::move(name));
    item.SetValue(std::move(value));
    return item;
}

int EmuCommandParams::IndexOfName(const std::string& name) const {
    if (name.empty()) {
        return -1;
    }
    for (int i = 0; i < Count(); ++i) {
        if (Items(i).Name() == name) {
            return i;
        }
    }
    return -1;
}

const EmuCommandParamsItem* EmuCommandParams::Find(const std::string& name, int index) const {
    int i = IndexOfName(name);
    if (i < 0) {
        i = index;
    }
    return (i >= 0 && i < Count()) ? &Items(i) : nullptr;
}

bool EmuCommandParams::GetBoolParam(const std::string& name, int index, bool def) const {
    const EmuCommandParamsItem* item = Find(name, index);
    if (item == nullptr) {
        return def;
    }
    std::string word = item->Value();
    for (char& c : word) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (word == "t" || word == "true" || word == "1" || word == "on" || word == "yes") {
        return true;
    }
    if (word == "f" || word == "false" || word == "0" || word == "off" || word == "no") {
        return false;
    }
    return def;
}

bool ParseIntParam(const std::string& text, int32_t& value) {
    size_t i = 0;
    if (!text.empty() && text[0] == '$') {
        if (text.size() < 2 || text.size() > 9) {
            return false;
        }
        uint32_t v = 0;
        for (i = 1; i < text.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (!std::isxdigit(c)) {
                return false;
            }
            v = v * 16 + static_cast<uint32_t>(std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10);
        }
        value = static_cast<int32_t>(v);
        return true;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c)) {
            return false;
        }
        v = v * 10 + (c - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) {
            return false;
        }
    }
    if (negative) {
        v = -v;
    }
    if (v > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

int32_t EmuCommandParams::GetIntParam(const std::string& name, int index, int32_t def) const {
    const EmuCommandParamsItem* item = Find(name, index);
    int32_t value = 0;
    if (item == nullptr || !ParseIntParam(item->Value(), value)) {
        return def;
    }
    return value;
}

uint32_t EmuCommandParams::GetColorParam(const std::string& name, int index, uint32_t def) const {
    return static_cast<uint32_t>(GetIntParam(name, index, static_cast<int32_t>(def)));
}

std::string EmuCommandParams::GetStrParam(const std::string& name, int index, const std::string& def) const {
    const EmuCommandParamsItem* item = Find(name, index);
    return item == nullptr ? def : item->Value();
}

EmuCommandListItem& EmuCommandList::Add(EmuCommand command) {
    EmuCommandListItem& item = Add();
    item.SetCommand(command);
    return item;
}

}  // namespace hydrix::terminal
