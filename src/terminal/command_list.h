// Terminal actions described as data: a list of EmuCommand values, each with named
// string parameters. An OnProcessChar handler fills the emulator's list for a received
// byte; the emulator reads the parameters with the lookups below and carries them out.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "terminal/emu_command.h"

namespace hydrix::terminal {

class TerminalEmulator;
class EmuCommandListItem;

// An indexed list that owns its items; item addresses stay valid until they are
// deleted or the list is cleared.
template <typename Item, typename Owner>
class OwnedCollection {
public:
    explicit OwnedCollection(Owner* owner) : owner_(owner) {}
    OwnedCollection(const OwnedCollection&) = delete;
    OwnedCollection& operator=(const OwnedCollection&) = delete;

    Owner* GetOwner() const { return owner_; }
    int Count() const { return static_cast<int>(items_.size()); }
    Item& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
    const Item& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }
    Item& operator[](int index) { return Items(index); }
    const Item& operator[](int index) const { return Items(index); }
    Item& Add() {
        items_.push_back(std::make_unique<Item>());
        return *items_.back();
    }
    void Delete(int index) { items_.erase(items_.begin() + CheckedIndex(index)); }
    void Clear() { items_.clear(); }

private:
    std::ptrdiff_t CheckedIndex(int index) const {
        if (index < 0 || index >= Count()) {
            throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
        }
        return index;
    }

    Owner* owner_;
    std::vector<std::unique_ptr<Item>> items_;
};

class EmuCommandParamsItem {
public:
    const std::string& Name() const { return name_; }
    void SetName(std::string value) { name_ = std::move(value); }
    const std::string& Value() const { return value_; }
    void SetValue(std::string value) { value_ = std::move(value); }

private:
    std::string name_;
    std::string value_;
};

// The parameters of one command. Lookups take (name, index, default): the first item
// with that exact name, else the item at index, else the default.
class EmuCommandParams : public OwnedCollection<EmuCommandParamsItem, EmuCommandListItem> {
public:
    explicit EmuCommandParams(EmuCommandListItem* owner) : OwnedCollection(owner) {}

    // Adds an item with the given name and value.
    EmuCommandParamsItem& Add(std::string name, std::string value);
    using OwnedCollection::Add;

    int IndexOfName(const std::string& name) const;
    bool GetBoolParam(const std::string& name, int index, bool def) const;
    int32_t GetIntParam(const std::string& name, int index, int32_t def) const;
    uint32_t GetColorParam(const std::string& name, int index, uint32_t def) const;
    std::string GetStrParam(const std::string& name, int index, const std::string& def) const;

private:
    const EmuCommandParamsItem* Find(const std::string& name, int index) const;
};

class EmuCommandListItem {
public:
    EmuCommandListItem() : params_(this) {}
    EmuCommandListItem(const EmuCommandListItem&) = delete;
    EmuCommandListItem& operator=(const EmuCommandListItem&) = delete;

    EmuCommand Command() const { return command_; }
    void SetCommand(EmuCommand value) { command_ = value; }
    EmuCommandParams& Params() { return params_; }
    const EmuCommandParams& Params() const { return params_; }

private:
    EmuCommand command_ = EmuCommand::ecNone;
    EmuCommandParams params_;
};

// The emulator's command list; its order is the order of execution.
class EmuCommandList : public OwnedCollection<EmuCommandListItem, TerminalEmulator> {
public:
    explicit EmuCommandList(TerminalEmulator* owner) : OwnedCollection(owner) {}

    // Adds an item carrying the command.
    EmuCommandListItem& Add(EmuCommand command);
    using OwnedCollection::Add;
};

// Integer text as the parameter lookups read it: optional sign and decimal digits, or
// '$' and hexadecimal digits (up to 32 bits). False when the text is not such a number.
bool ParseIntParam(const std::string& text, int32_t& value);

}  // namespace hydrix::terminal
