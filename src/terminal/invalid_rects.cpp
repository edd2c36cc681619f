#include "terminal/invalid_rects.h"

#include <algorithm>

namespace hydrix::terminal {

InvalidRectPool& InvalidRectPool::Instance() {
    static InvalidRectPool pool;
    return pool;
}

InvalidRectNode* InvalidRectPool::Acquire() {
    std::lock_guard lock(mutex_);
    if (!free_) {
        auto block = std::make_unique<InvalidRectNode[]>(BlockSize);
        for (int i = 0; i < BlockSize; ++i) {
            block[i].Next = i + 1 < BlockSize ? &block[i + 1] : nullptr;
        }
        free_ = block.get();
        freeCount_ += BlockSize;
        blocks_.push_back(std::move(block));
    }
    InvalidRectNode* node = free_;
    free_ = node->Next;
    --freeCount_;
    return node;
}

void InvalidRectPool::Release(InvalidRectNode* first, InvalidRectNode* last, size_t count) {
    if (!first) {
        return;
    }
    std::lock_guard lock(mutex_);
    last->Next = free_;
    free_ = first;
    freeCount_ += count;
}

size_t InvalidRectPool::Capacity() const {
    std::lock_guard lock(mutex_);
    return blocks_.size() * BlockSize;
}

size_t InvalidRectPool::FreeCount() const {
    std::lock_guard lock(mutex_);
    return freeCount_;
}

InvalidRectList::~InvalidRectList() {
    InvalidRectPool::Instance().Release(head_, tail_, static_cast<size_t>(count_));
}

void InvalidRectList::Add(const CellRect& rect) {
    // Characters written one after another extend the newest rectangle in place; the
    // bounding box taken later is the same.
    if (head_) {
        CellRect& h = head_->Rect;
        if (rect.Top == h.Top && rect.Bottom == h.Bottom && rect.Left <= h.Right + 1 && rect.Right >= h.Left - 1) {
            h.Left = std::min(h.Left, rect.Left);
            h.Right = std::max(h.Right, rect.Right);
            return;
        }
    }
    if (count_ >= FoldLimit) {
        CellRect box;
        Take(box);
        Add(box);
    }
    InvalidRectNode* node = InvalidRectPool::Instance().Acquire();
    node->Rect = rect;
    node->Next = head_;
    head_ = node;
    if (!tail_) {
        tail_ = node;
    }
    ++count_;
}

bool InvalidRectList::Take(CellRect& rect) {
    if (!head_) {
        return false;
    }
    CellRect box = head_->Rect;
    for (InvalidRectNode* p = head_->Next; p; p = p->Next) {
        box.Left = std::min(box.Left, p->Rect.Left);
        box.Top = std::min(box.Top, p->Rect.Top);
        box.Right = std::max(box.Right, p->Rect.Right);
        box.Bottom = std::max(box.Bottom, p->Rect.Bottom);
    }
    InvalidRectPool::Instance().Release(head_, tail_, static_cast<size_t>(count_));
    head_ = tail_ = nullptr;
    count_ = 0;
    rect = box;
    return true;
}

}  // namespace hydrix::terminal
