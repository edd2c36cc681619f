// The command interpreter: a table from each EmuCommand to its action on the terminal
// buffer, filled family by family. The table is built at compile time, so carrying out
// a command costs one indexed call, as the switch it replaced did.
#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <string>

#include "platform/dialogs.h"
#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_emulator.h"

namespace hydrix::terminal {

namespace {

constexpr char kEsc = '\x1b';

class Params {
public:
    explicit Params(const EmuCommandParams* params) : params_(params) {}
    bool Bool(const char* name, int index, bool def) const {
        return params_ != nullptr ? params_->GetBoolParam(name, index, def) : def;
    }
    int Int(const char* name, int index, int def) const {
        return params_ != nullptr ? params_->GetIntParam(name, index, def) : def;
    }
    uint32_t Color(const char* name, int index, uint32_t def) const {
        return params_ != nullptr ? params_->GetColorParam(name, index, def) : def;
    }
    std::string Str(const char* name, int index) const {
        return params_ != nullptr ? params_->GetStrParam(name, index, std::string()) : std::string();
    }

private:
    const EmuCommandParams* params_;
};

// What a command acts on.
struct Target {
    TerminalBuffer& b;
    const Params& p;
    EmulatorTerminal* terminal;  // nullptr without one
    TerminalEmulator::SavedCursorState& saved;
};

using Action = void (*)(const Target&);

struct ActionTable {
    std::array<Action, kEmuCommandCount> actions{};
    // Which entries are set: a sanitizer build cannot compare function addresses with
    // nullptr at compile time.
    std::array<bool, kEmuCommandCount> set{};
};

constexpr void Set(ActionTable& table, EmuCommand command, Action action) {
    const auto index = static_cast<size_t>(command);
    table.actions[index] = action;
    table.set[index] = true;
}

void Nothing(const Target&) {}

template <void (TerminalBuffer::*Operation)()>
void Plain(const Target& t) {
    (t.b.*Operation)();
}

template <void (TerminalBuffer::*Operation)(int)>
void Counted(const Target& t) {
    (t.b.*Operation)(t.p.Int("Count", 0, 1));
}

// The control characters.
constexpr void AddControls(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecBell, [](const Target&) { platform::MessageBeep(); });
    Set(a, ecBackspace, Plain<&TerminalBuffer::Backspace>);
    Set(a, ecTabHorz, Plain<&TerminalBuffer::TabHorz>);
    Set(a, ecLF, Plain<&TerminalBuffer::LineFeed>);
    Set(a, ecCR, Plain<&TerminalBuffer::CarriageReturn>);
    Set(a, ecBackTabHorz, Plain<&TerminalBuffer::BackTabHorz>);
    // Always ends at the left edge of the next row.
    Set(a, ecNEL, [](const Target& t) {
        t.b.LineFeed();
        if (!t.b.NewLineMode()) {
            t.b.CarriageReturn();
        }
    });
}

void SaveCursor(const Target& t) {
    const TerminalBuffer& b = t.b;
    t.saved = {b.CharAttrs(), b.BackColor(), b.CharSet(), b.CursorCol(), b.ForeColor(), b.CursorRow()};
}

void RestoreCursor(const Target& t) {
    t.b.SetCharAttrs(t.saved.Attrs);
    t.b.SetBackColor(t.saved.BackColor);
    t.b.SetCharSet(t.saved.CharSet);
    t.b.SetCursorCol(t.saved.Col);
    t.b.SetForeColor(t.saved.ForeColor);
    t.b.SetCursorRow(t.saved.Row);
}

constexpr void AddCursor(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecCursorDown, [](const Target& t) { t.b.CursorDown(t.p.Bool("Scroll", 0, false)); });
    Set(a, ecCursorUp, [](const Target& t) { t.b.CursorUp(t.p.Bool("Scroll", 0, false)); });
    Set(a, ecCursorLeft,
        [](const Target& t) { t.b.CursorLeft(t.p.Bool("Wrap", 0, false), t.p.Bool("Scroll", 1, false)); });
    Set(a, ecCursorRight,
        [](const Target& t) { t.b.CursorRight(t.p.Bool("Wrap", 0, false), t.p.Bool("Scroll", 1, false)); });
    Set(a, ecCursorPos, [](const Target& t) { t.b.CursorPos(t.p.Int("Row", 0, 1), t.p.Int("Col", 1, 1)); });
    Set(a, ecHome, [](const Target& t) { t.b.CursorPos(1, 1); });
    Set(a, ecCursorEOL, [](const Target& t) { t.b.SetCursorCol(t.b.ColCount()); });
    Set(a, ecCursorBOL, [](const Target& t) { t.b.SetCursorCol(1); });
    Set(a, ecCursorTop, [](const Target& t) { t.b.SetCursorRow(1); });
    Set(a, ecCursorBottom, [](const Target& t) { t.b.SetCursorRow(t.b.RowCount()); });
    Set(a, ecSaveCursorPos, SaveCursor);
    Set(a, ecRestoreCursorPos, RestoreCursor);
}

constexpr void AddEditing(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecDeleteChars, Counted<&TerminalBuffer::DeleteChars>);
    Set(a, ecDeleteLines, Counted<&TerminalBuffer::DeleteLines>);
    Set(a, ecInsertChars, Counted<&TerminalBuffer::InsertChars>);
    Set(a, ecInsertLines, Counted<&TerminalBuffer::InsertLines>);
    Set(a, ecEraseChars, Counted<&TerminalBuffer::EraseChars>);
    Set(a, ecWriteString, [](const Target& t) { t.b.WriteString(t.p.Str("String", 0)); });
}

// Fills the screen with E; its former content moves into the scrollback.
void ScreenAlignment(const Target& t) {
    const uint8_t previous = t.b.DefaultChar();
    t.b.SetDefaultChar('E');
    t.b.EraseScreen();
    t.b.SetDefaultChar(previous);
}

constexpr void AddErasing(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecEraseAll, Plain<&TerminalBuffer::EraseAll>);
    Set(a, ecEraseFromBOW, Plain<&TerminalBuffer::EraseFromBOW>);
    Set(a, ecEraseFromBOL, Plain<&TerminalBuffer::EraseFromBOL>);
    Set(a, ecEraseLine, Plain<&TerminalBuffer::EraseLine>);
    Set(a, ecEraseScreen, Plain<&TerminalBuffer::EraseScreen>);
    Set(a, ecEraseToEOL, Plain<&TerminalBuffer::EraseToEOL>);
    Set(a, ecEraseToEOW, Plain<&TerminalBuffer::EraseToEOW>);
    Set(a, ecClearAndHome, [](const Target& t) {
        t.b.EraseScreen();
        t.b.CursorPos(1, 1);
    });
    Set(a, ecDECALN, ScreenAlignment);
    Set(a, ecReset, Plain<&TerminalBuffer::Reset>);
}

constexpr void AddTabs(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecSetHorzTabStop, Plain<&TerminalBuffer::SetHorzTabStop>);
    Set(a, ecClearHorzTabStop, Plain<&TerminalBuffer::ClearHorzTabStop>);
    Set(a, ecClearVertTabStop, Plain<&TerminalBuffer::ClearVertTabStop>);
    Set(a, ecClearAllHorzTabStops, Plain<&TerminalBuffer::ClearAllHorzTabStops>);
    Set(a, ecSetVertTabStop, Plain<&TerminalBuffer::SetVertTabStop>);
    Set(a, ecClearAllVertTabStops, Plain<&TerminalBuffer::ClearAllVertTabStops>);
    Set(a, ecTabVert, Plain<&TerminalBuffer::TabVert>);
    Set(a, ecBackTabVert, Plain<&TerminalBuffer::BackTabVert>);
    Set(a, ecSetScrollRegion,
        [](const Target& t) { t.b.SetScrollRegion(t.p.Int("Top", 0, 1), t.p.Int("Bottom", 1, 1)); });
}

template <void (TerminalBuffer::*SetMode)(bool)>
constexpr void AddMode(ActionTable& a, EmuCommand on, EmuCommand off) {
    Set(a, on, [](const Target& t) { (t.b.*SetMode)(true); });
    Set(a, off, [](const Target& t) { (t.b.*SetMode)(false); });
}

constexpr void AddModes(ActionTable& a) {
    using enum EmuCommand;
    AddMode<&TerminalBuffer::SetAbsAddress>(a, ecAbsAddress, ecNoAbsAddress);
    AddMode<&TerminalBuffer::SetAutoWrap>(a, ecAutoWrap, ecNoAutoWrap);
    AddMode<&TerminalBuffer::SetAutoWrapDelay>(a, ecAutoWrapDelay, ecNoAutoWrapDelay);
    AddMode<&TerminalBuffer::SetInsertMode>(a, ecInsertMode, ecNoInsertMode);
    AddMode<&TerminalBuffer::SetNewLineMode>(a, ecNewLineMode, ecNoNewLineMode);
    AddMode<&TerminalBuffer::SetScrollRegionActive>(a, ecScrollRegion, ecNoScrollRegion);
}

// A persistent colour becomes the terminal's own, so colour synchronisation keeps it.
void BackColor(const Target& t) {
    t.b.SetBackColor(t.p.Color("Color", 0, 0));
    if (t.p.Bool("Persistent", 1, true) && t.terminal != nullptr) {
        t.terminal->SetColor(t.b.BackColor());
    }
}

void ForeColor(const Target& t) {
    t.b.SetForeColor(t.p.Color("Color", 0, 0xC0C0C0));
    if (t.p.Bool("Persistent", 1, true) && t.terminal != nullptr) {
        t.terminal->SetFontColor(t.b.ForeColor());
    }
}

void Colors(const Target& t) {
    t.b.SetForeColor(t.p.Color("Fore", 0, 0xC0C0C0));
    t.b.SetBackColor(t.p.Color("Back", 1, 0));
    if (t.p.Bool("Persistent", 2, true) && t.terminal != nullptr) {
        t.terminal->SetFontColor(t.b.ForeColor());
        t.terminal->SetColor(t.b.BackColor());
    }
}

constexpr void AddColors(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecBackColor, BackColor);
    Set(a, ecForeColor, ForeColor);
    Set(a, ecColor, Colors);
}

enum class AttrChange { Add, Only, Remove, Invert };

template <CharAttrSet Flag, AttrChange Change>
void ChangeAttr(const Target& t) {
    const CharAttrSet attrs = t.b.CharAttrs();
    if constexpr (Change == AttrChange::Add) {
        t.b.SetCharAttrs(attrs | Flag);
    } else if constexpr (Change == AttrChange::Only) {
        t.b.SetCharAttrs(Flag);
    } else if constexpr (Change == AttrChange::Remove) {
        t.b.SetCharAttrs(attrs & static_cast<CharAttrSet>(~Flag));
    } else {
        t.b.SetCharAttrs(attrs ^ Flag);
    }
}

template <CharAttrSet Flag>
constexpr void AddAttr(ActionTable& a, EmuCommand add, EmuCommand only, EmuCommand remove, EmuCommand invert) {
    Set(a, add, ChangeAttr<Flag, AttrChange::Add>);
    Set(a, only, ChangeAttr<Flag, AttrChange::Only>);
    Set(a, remove, ChangeAttr<Flag, AttrChange::Remove>);
    Set(a, invert, ChangeAttr<Flag, AttrChange::Invert>);
}

// The attributes whose parameter is true, by name or else by position.
void SetCharAttr(const Target& t) {
    static constexpr struct {
        const char* name;
        CharAttrSet flag;
    } kAttrs[] = {{"Bold", tcaBold},        {"Underline", tcaUnderline}, {"Strikethrough", tcaStrikethrough},
                  {"Blink", tcaBlink},      {"Reverse", tcaReverse},     {"Invisible", tcaInvisible},
                  {"Selected", tcaSelected}};
    CharAttrSet attrs = 0;
    for (int i = 0; i < 7; ++i) {
        if (t.p.Bool(kAttrs[i].name, i, false)) {
            attrs |= kAttrs[i].flag;
        }
    }
    t.b.SetCharAttrs(attrs);
}

constexpr void AddAttributes(ActionTable& a) {
    using enum EmuCommand;
    AddAttr<tcaBold>(a, ecAddBold, ecBoldOnly, ecRemoveBold, ecInvertBold);
    AddAttr<tcaUnderline>(a, ecAddUnderLine, ecUnderlineOnly, ecRemoveUnderline, ecInvertUnderline);
    AddAttr<tcaStrikethrough>(a, ecAddStrikethrough, ecStrikethroughOnly, ecRemoveStrikethrough, ecInvertStrikethrough);
    AddAttr<tcaBlink>(a, ecAddBlink, ecBlinkOnly, ecRemoveBlink, ecInvertBlink);
    AddAttr<tcaReverse>(a, ecAddReverse, ecReverseOnly, ecRemoveReverse, ecInvertReverse);
    AddAttr<tcaInvisible>(a, ecAddInvisible, ecInvisibleOnly, ecRemoveInvisible, ecInvertInvisible);
    AddAttr<tcaSelected>(a, ecAddSelected, ecSelectedOnly, ecRemoveSelected, ecInvertSelected);
    Set(a, ecSetCharAttr, SetCharAttr);
    Set(a, ecRemoveAllAttr, [](const Target& t) { t.b.SetCharAttrs(0); });
    Set(a, ecRemoveAllAttrIgnoreSelect, [](const Target& t) { t.b.SetCharAttrs(t.b.CharAttrs() & tcaSelected); });
}

// Only the port's linked terminal answers, so two terminals on one port send one report.
void SendReport(const Target& t, const std::string& text) {
    if (t.terminal == nullptr) {
        return;
    }
    TerminalPort* port = t.terminal->ComPort();
    if (port != nullptr && port->LinkedTerminal() == t.terminal) {
        port->SendString(text);
    }
}

void DeviceAttributesReport(const Target& t) {
    switch (t.p.Int("Type", 0, 0)) {
    case 0:
        SendReport(t, std::string(1, kEsc) + "[?1;0c");
        break;
    case 52:
        SendReport(t, std::string(1, kEsc) + "/Z");
        break;
    default:
        break;
    }
}

void DeviceStatusReport(const Target& t) {
    switch (t.p.Int("Type", 0, 5)) {
    case 5:
        SendReport(t, std::string(1, kEsc) + "[0n");
        break;
    case 6:
        SendReport(t, std::string(1, kEsc) + "[" + std::to_string(t.b.CursorRow()) + ";" +
                          std::to_string(t.b.CursorCol()) + "R");
        break;
    default:
        break;
    }
}

constexpr void AddReports(ActionTable& a) {
    using enum EmuCommand;
    Set(a, ecDeviceAttributesReport, DeviceAttributesReport);
    Set(a, ecDeviceStatusReport, DeviceStatusReport);
    Set(a, ecAnswerback, Nothing);
}

constexpr ActionTable MakeActions() {
    ActionTable a{};
    Set(a, EmuCommand::ecNone, Nothing);
    AddControls(a);
    AddCursor(a);
    AddEditing(a);
    AddErasing(a);
    AddTabs(a);
    AddModes(a);
    AddColors(a);
    AddAttributes(a);
    AddReports(a);
    return a;
}

constexpr ActionTable kTable = MakeActions();
static_assert(std::ranges::all_of(kTable.set, std::identity{}), "every command has an action");

}  // namespace

void TerminalEmulator::ExecuteCommand(EmuCommand command, const EmuCommandParams* params) {
    const auto index = static_cast<size_t>(command);
    // A value outside the enumeration does nothing, like ecNone.
    if (buffer_ == nullptr || index >= kTable.actions.size()) {
        return;
    }
    const Params p(params);
    kTable.actions[index](Target{*buffer_, p, terminal_, saved_});
}

}  // namespace hydrix::terminal
