#include "terminal/terminal_emulator.h"

#include <memory>
#include <vector>

#include "terminal/emulator_terminal.h"
#include "terminal/terminal_buffer.h"

namespace hydrix::terminal {

namespace {

// Pairs are pushed at the head; released nodes are kept on a free list for reuse and
// all nodes are freed when the program ends.
class TerminalLinkList {
public:
    struct Node {
        Node* next = nullptr;
        EmulatorTerminal* terminal = nullptr;
        TerminalEmulator* emulator = nullptr;
    };

    Node* Find(const EmulatorTerminal* terminal) const {
        for (Node* n = head_; n != nullptr; n = n->next) {
            if (n->terminal == terminal) {
                return n;
            }
        }
        return nullptr;
    }

    void Push(EmulatorTerminal* terminal, TerminalEmulator* emulator) {
        Node* node = free_;
        if (node != nullptr) {
            free_ = node->next;
        } else {
            nodes_.push_back(std::make_unique<Node>());
            node = nodes_.back().get();
        }
        node->terminal = terminal;
        node->emulator = emulator;
        node->next = head_;
        head_ = node;
    }

    // Unlinks the first pair of the terminal; returns its emulator, or nullptr.
    TerminalEmulator* Unlink(const EmulatorTerminal* terminal) {
        for (Node** link = &head_; *link != nullptr; link = &(*link)->next) {
            Node* node = *link;
            if (node->terminal == terminal) {
                *link = node->next;
                TerminalEmulator* emulator = node->emulator;
                node->terminal = nullptr;
                node->emulator = nullptr;
                node->next = free_;
                free_ = node;
                return emulator;
            }
        }
        return nullptr;
    }

    int Count() const {
        int count = 0;
        for (Node* n = head_; n != nullptr; n = n->next) {
            ++count;
        }
        return count;
    }

private:
    Node* head_ = nullptr;
    Node* free_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;
};

TerminalLinkList& Links() {
    static TerminalLinkList links;
    return links;
}

}  // namespace

void AddTerminalLink(EmulatorTerminal* terminal, TerminalEmulator* emulator) {
    if (Links().Find(terminal) != nullptr) {
        return;
    }
    Links().Push(terminal, emulator);
    terminal->SetEmulator(emulator);
    emulator->SetTerminal(terminal);
}

void RemoveTerminalLink(EmulatorTerminal* terminal, bool detach) {
    TerminalEmulator* emulator = Links().Unlink(terminal);
    if (detach && emulator != nullptr) {
        terminal->SetEmulator(nullptr);
        emulator->SetTerminal(nullptr);
    }
}

TerminalEmulator* FindTerminalLink(const EmulatorTerminal* terminal) {
    auto* node = Links().Find(terminal);
    return node == nullptr ? nullptr : node->emulator;
}

int TerminalLinkCount() {
    return Links().Count();
}

TerminalEmulator::TerminalEmulator() : commands_(this) {}

TerminalEmulator::~TerminalEmulator() {
    if (!builtIn_) {
        TerminalEmulator::SetTerminal(nullptr);
    }
}

void TerminalEmulator::SetTerminal(EmulatorTerminal* t) {
    if (t == terminal_) {
        return;
    }
    if (terminal_ != nullptr && !builtIn_) {
        EmulatorTerminal* old = terminal_;
        terminal_ = nullptr;
        RemoveTerminalLink(old, true);
    }
    terminal_ = t;
    if (t == nullptr || builtIn_) {
        return;
    }
    if (t->Emulator() != nullptr && t->Emulator() != this) {
        RemoveTerminalLink(t, true);
    }
    AddTerminalLink(t, this);
}

void TerminalEmulator::TerminalRemoved(EmulatorTerminal* t) {
    if (t == terminal_) {
        terminal_ = nullptr;
    }
}

void TerminalEmulator::TerminalInserted(EmulatorTerminal* t) {
    if (terminal_ == nullptr) {
        SetTerminal(t);
    }
}

void TerminalEmulator::SetBuffer(TerminalBuffer* buffer) {
    buffer_ = buffer;
    if (buffer != nullptr) {
        buffer->SetObserver(this);
    }
}

void TerminalEmulator::Damaged(TerminalBuffer& /*sender*/) {
    if (terminal_ != nullptr) {
        terminal_->Damaged();
    }
}

void TerminalEmulator::CursorMoved(TerminalBuffer& sender, int row, int col) {
    if (terminal_ != nullptr) {
        terminal_->CursorMoved(&sender, row, col);
    }
}

bool TerminalEmulator::NeedsUpdate() {
    return buffer_ != nullptr && (buffer_->HasInvalidRect() || buffer_->TakeCursorMoved());
}

void TerminalEmulator::TransmitChar(uint8_t ch, bool echo, CharSource source) {
    if (terminal_ == nullptr) {
        return;
    }
    if (echo && terminal_->HalfDuplex()) {
        ProcessBlock(&ch, 1, source);
    }
    // Looked up again: echoing may have run handlers that changed the terminal.
    if (terminal_ == nullptr) {
        return;
    }
    TerminalPort* port = terminal_->ComPort();
    if (port != nullptr && port->Open()) {
        port->SendChar(ch);
    }
}

void TerminalEmulator::ExecuteCommands(const EmuCommandList& list) {
    for (int i = 0; i < list.Count(); ++i) {
        ExecuteCommand(list[i].Command(), &list[i].Params());
    }
}

}  // namespace hydrix::terminal
