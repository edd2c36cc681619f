#include "comm/handler_lists.h"

#include <algorithm>

namespace hydrix::comm {

namespace {

template <typename Records>
void EraseDeleted(Records& list) {
    std::erase_if(list, [](const auto& r) { return r->Deleted; });
}

}  // namespace

void HandlerLists::Add(HandlerKind kind, HandlerRec rec) {
    List(kind).push_back(std::make_shared<HandlerRec>(std::move(rec)));
    needService_ = true;
}

bool HandlerLists::Remove(HandlerKind kind, bool deferred, const std::function<bool(const HandlerRec&)>& matches) {
    Records& list = List(kind);
    bool found = false;
    for (auto& rec : list) {
        if (!rec->Deleted && matches(*rec)) {
            rec->Deleted = true;
            found = true;
        }
    }
    if (!deferred) {
        EraseDeleted(list);
    } else if (found) {
        deletionsPending_ = true;
    }
    return found;
}

bool HandlerLists::RemoveDeferred() {
    if (!deletionsPending_) {
        return false;
    }
    for (auto& list : lists_) {
        EraseDeleted(list);
    }
    deletionsPending_ = false;
    return true;
}

std::shared_ptr<HandlerRec> HandlerLists::At(HandlerKind kind, size_t index, bool& deleted) const {
    const Records& list = List(kind);
    if (index >= list.size()) {
        return nullptr;
    }
    deleted = list[index]->Deleted;
    return list[index];
}

std::vector<platform::WindowHandle> HandlerLists::LiveWindows() const {
    std::vector<platform::WindowHandle> windows;
    for (const auto& rec : List(HandlerKind::kWindow)) {
        if (!rec->Deleted) {
            windows.push_back(rec->Window);
        }
    }
    return windows;
}

void HandlerLists::SetFlags(HandlerFlagsMode mode) {
    auto live = [this](HandlerKind kind) {
        const Records& list = List(kind);
        return std::count_if(list.begin(), list.end(), [](const auto& r) { return !r->Deleted; });
    };
    const bool others =
        live(HandlerKind::kWindow) > 1 || live(HandlerKind::kProcedure) > 0 || live(HandlerKind::kMethod) > 0;
    switch (mode) {
    case HandlerFlagsMode::kPortEvents:
        portEventsAssigned_ = true;
        needService_ = true;
        break;
    case HandlerFlagsMode::kNoPortEvents:
        portEventsAssigned_ = false;
        needService_ = others;
        break;
    case HandlerFlagsMode::kRecompute:
        needService_ = others || portEventsAssigned_;
        break;
    }
}

}  // namespace hydrix::comm
