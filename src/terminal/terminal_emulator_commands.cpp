// The command interpreter: each EmuCommand mapped onto the terminal buffer.
#include <string>

#include "platform/dialogs.h"
#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"
#include "terminal/terminal_emulator.h"

namespace hydrix::terminal {

namespace {

constexpr char kEsc = '\x1b';

enum AttrChange { kAdd, kOnly, kRemove, kInvert };

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

}  // namespace

void TerminalEmulator::ApplyAttr(uint8_t flag, int kind) {
    TerminalBuffer& b = *buffer_;
    switch (kind) {
    case kAdd:
        b.SetCharAttrs(b.CharAttrs() | flag);
        break;
    case kOnly:
        b.SetCharAttrs(flag);
        break;
    case kRemove:
        b.SetCharAttrs(b.CharAttrs() & static_cast<uint8_t>(~flag));
        break;
    default:
        b.SetCharAttrs(b.CharAttrs() ^ flag);
        break;
    }
}

void TerminalEmulator::ExecuteCommand(EmuCommand command, const EmuCommandParams* params) {
    if (buffer_ == nullptr) {
        return;
    }
    TerminalBuffer& b = *buffer_;
    const Params p(params);
    using enum EmuCommand;

    const int value = static_cast<int>(command);
    if (value >= static_cast<int>(ecAddBold) && value <= static_cast<int>(ecInvertInvisible)) {
        static constexpr uint8_t kFlags[] = {tcaBold,  tcaUnderline, tcaStrikethrough,
                                             tcaBlink, tcaReverse,   tcaInvisible};
        const int offset = value - static_cast<int>(ecAddBold);
        ApplyAttr(kFlags[offset / 4], offset % 4);
        return;
    }

    switch (command) {
    case ecNone:
    case ecAnswerback:
        break;
    case ecBell:
        platform::MessageBeep();
        break;
    case ecBackspace:
        b.Backspace();
        break;
    case ecTabHorz:
        b.TabHorz();
        break;
    case ecLF:
        b.LineFeed();
        break;
    case ecCR:
        b.CarriageReturn();
        break;
    case ecBackTabHorz:
        b.BackTabHorz();
        break;
    case ecCursorDown:
        b.CursorDown(p.Bool("Scroll", 0, false));
        break;
    case ecCursorUp:
        b.CursorUp(p.Bool("Scroll", 0, false));
        break;
    case ecCursorLeft:
        b.CursorLeft(p.Bool("Wrap", 0, false), p.Bool("Scroll", 1, false));
        break;
    case ecCursorRight:
        b.CursorRight(p.Bool("Wrap", 0, false), p.Bool("Scroll", 1, false));
        break;
    case ecCursorPos:
        b.CursorPos(p.Int("Row", 0, 1), p.Int("Col", 1, 1));
        break;
    case ecDeleteChars:
        b.DeleteChars(p.Int("Count", 0, 1));
        break;
    case ecDeleteLines:
        b.DeleteLines(p.Int("Count", 0, 1));
        break;
    case ecInsertChars:
        b.InsertChars(p.Int("Count", 0, 1));
        break;
    case ecInsertLines:
        b.InsertLines(p.Int("Count", 0, 1));
        break;
    case ecEraseChars:
        b.EraseChars(p.Int("Count", 0, 1));
        break;
    case ecEraseAll:
        b.EraseAll();
        break;
    case ecEraseFromBOW:
        b.EraseFromBOW();
        break;
    case ecEraseFromBOL:
        b.EraseFromBOL();
        break;
    case ecEraseLine:
        b.EraseLine();
        break;
    case ecEraseScreen:
        b.EraseScreen();
        break;
    case ecEraseToEOL:
        b.EraseToEOL();
        break;
    case ecEraseToEOW:
        b.EraseToEOW();
        break;
    case ecSetHorzTabStop:
        b.SetHorzTabStop();
        break;
    case ecClearHorzTabStop:
        b.ClearHorzTabStop();
        break;
    case ecClearVertTabStop:
        b.ClearVertTabStop();
        break;
    case ecClearAllHorzTabStops:
        b.ClearAllHorzTabStops();
        break;
    case ecSetVertTabStop:
        b.SetVertTabStop();
        break;
    case ecClearAllVertTabStops:
        b.ClearAllVertTabStops();
        break;
    case ecSetScrollRegion:
        b.SetScrollRegion(p.Int("Top", 0, 1), p.Int("Bottom", 1, 1));
        break;
    case ecTabVert:
        b.TabVert();
        break;
    case ecBackTabVert:
        b.BackTabVert();
        break;
    case ecBackColor:
        b.SetBackColor(p.Color("Color", 0, 0));
        if (p.Bool("Persistent", 1, true) && terminal_ != nullptr) {
            terminal_->SetColor(b.BackColor());
        }
        break;
    case ecForeColor:
        b.SetForeColor(p.Color("Color", 0, 0xC0C0C0));
        if (p.Bool("Persistent", 1, true) && terminal_ != nullptr) {
            terminal_->SetFontColor(b.ForeColor());
        }
        break;
    case ecAbsAddress:
    case ecNoAbsAddress:
        b.SetAbsAddress(command == ecAbsAddress);
        break;
    case ecAutoWrap:
    case ecNoAutoWrap:
        b.SetAutoWrap(command == ecAutoWrap);
        break;
    case ecAutoWrapDelay:
    case ecNoAutoWrapDelay:
        b.SetAutoWrapDelay(command == ecAutoWrapDelay);
        break;
    case ecInsertMode:
    case ecNoInsertMode:
        b.SetInsertMode(command == ecInsertMode);
        break;
    case ecNewLineMode:
    case ecNoNewLineMode:
        b.SetNewLineMode(command == ecNewLineMode);
        break;
    case ecScrollRegion:
    case ecNoScrollRegion:
        b.SetScrollRegionActive(command == ecScrollRegion);
        break;
    case ecSetCharAttr: {
        static constexpr struct {
            const char* name;
            uint8_t flag;
        } kAttrs[] = {{"Bold", tcaBold},         {"Underline", tcaUnderline},
                      {"Strikethrough", tcaStrikethrough}, {"Blink", tcaBlink},
                      {"Reverse", tcaReverse},   {"Invisible", tcaInvisible},
                      {"Selected", tcaSelected}};
        uint8_t attrs = 0;
        for (int i = 0; i < 7; ++i) {
            if (p.Bool(kAttrs[i].name, i, false)) {
                attrs |= kAttrs[i].flag;
            }
        }
        b.SetCharAttrs(attrs);
        break;
    }
    case ecAddSelected:
        ApplyAttr(tcaSelected, kAdd);
        break;
    case ecRemoveSelected:
        ApplyAttr(tcaSelected, kRemove);
        break;
    case ecSelectedOnly:
        ApplyAttr(tcaSelected, kOnly);
        break;
    case ecInvertSelected:
        ApplyAttr(tcaSelected, kInvert);
        break;
    case ecRemoveAllAttr:
        b.SetCharAttrs(0);
        break;
    case ecRemoveAllAttrIgnoreSelect:
        b.SetCharAttrs(b.CharAttrs() & tcaSelected);
        break;
    case ecClearAndHome:
        b.EraseScreen();
        b.CursorPos(1, 1);
        break;
    case ecHome:
        b.CursorPos(1, 1);
        break;
    case ecCursorEOL:
        b.SetCursorCol(b.ColCount());
        break;
    case ecCursorBOL:
        b.SetCursorCol(1);
        break;
    case ecCursorTop:
        b.SetCursorRow(1);
        break;
    case ecCursorBottom:
        b.SetCursorRow(b.RowCount());
        break;
    case ecWriteString:
        b.WriteString(p.Str("String", 0));
        break;
    case ecColor:
        b.SetForeColor(p.Color("Fore", 0, 0xC0C0C0));
        b.SetBackColor(p.Color("Back", 1, 0));
        if (p.Bool("Persistent", 2, true) && terminal_ != nullptr) {
            terminal_->SetFontColor(b.ForeColor());
            terminal_->SetColor(b.BackColor());
        }
        break;
    case ecSaveCursorPos:
        saved_ = {b.CharAttrs(), b.BackColor(), b.CharSet(), b.CursorCol(), b.ForeColor(), b.CursorRow()};
        break;
    case ecRestoreCursorPos:
        b.SetCharAttrs(saved_.Attrs);
        b.SetBackColor(saved_.BackColor);
        b.SetCharSet(saved_.CharSet);
        b.SetCursorCol(saved_.Col);
        b.SetForeColor(saved_.ForeColor);
        b.SetCursorRow(saved_.Row);
        break;
    case ecDeviceAttributesReport:
        switch (p.Int("Type", 0, 0)) {
        case 0:
            SendReport(std::string(1, kEsc) + "[?1;0c");
            break;
        case 52:
            SendReport(std::string(1, kEsc) + "/Z");
            break;
        default:
            break;
        }
        break;
    case ecNEL:
        b.LineFeed();
        if (!b.NewLineMode()) {
            b.CarriageReturn();
        }
        break;
    case ecReset:
        b.Reset();
        break;
    case ecDECALN: {
        const uint8_t previous = b.DefaultChar();
        b.SetDefaultChar('E');
        b.EraseScreen();
        b.SetDefaultChar(previous);
        break;
    }
    case ecDeviceStatusReport:
        switch (p.Int("Type", 0, 5)) {
        case 5:
            SendReport(std::string(1, kEsc) + "[0n");
            break;
        case 6:
            SendReport(std::string(1, kEsc) + "[" + std::to_string(b.CursorRow()) + ";" +
                       std::to_string(b.CursorCol()) + "R");
            break;
        default:
            break;
        }
        break;
    default:
        // The attribute commands 48..71 were handled above.
        break;
    }
}

}  // namespace hydrix::terminal
