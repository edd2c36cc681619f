// The screen rectangles a terminal buffer marked for repainting, queued until the
// emulator takes them for painting. List nodes come from one process-wide pool, so
// marking a cell (done for every written character) allocates nothing in steady state.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace hydrix::terminal {

// Cells in screen coordinates (1-based, rows above the screen 0, -1, ...), inclusive.
struct CellRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    bool operator==(const CellRect&) const = default;
};

struct InvalidRectNode {
    InvalidRectNode* Next;
    CellRect Rect;
};

// Grows by blocks of BlockSize nodes; blocks are released when the program ends.
class InvalidRectPool {
public:
    static constexpr int BlockSize = 200;

    static InvalidRectPool& Instance();

    InvalidRectNode* Acquire();
    // Returns a chain of count nodes (first ... last, linked by Next) to the pool.
    void Release(InvalidRectNode* first, InvalidRectNode* last, size_t count);

    size_t Capacity() const;
    size_t FreeCount() const;

private:
    InvalidRectPool() = default;

    mutable std::mutex mutex_;  // buffers live on the GUI thread, but tests run several
    std::vector<std::unique_ptr<InvalidRectNode[]>> blocks_;
    InvalidRectNode* free_ = nullptr;
    size_t freeCount_ = 0;
};

// The queue of one buffer, newest first. A rectangle on the same rows as the newest one
// and touching it widens that one instead of taking a node.
class InvalidRectList {
public:
    // A queue this long is folded into its bounding box before more are added, so a
    // buffer nobody paints from holds a bounded number of nodes. Taking merges them all
    // anyway, so the result is the same.
    static constexpr int FoldLimit = 4096;

    InvalidRectList() = default;
    ~InvalidRectList();
    InvalidRectList(const InvalidRectList&) = delete;
    InvalidRectList& operator=(const InvalidRectList&) = delete;

    void Add(const CellRect& rect);
    // Bounding box of everything queued; the queue is then empty. False when empty.
    bool Take(CellRect& rect);
    bool Empty() const { return head_ == nullptr; }
    int Count() const { return count_; }

private:
    InvalidRectNode* head_ = nullptr;
    InvalidRectNode* tail_ = nullptr;
    int count_ = 0;
};

}  // namespace hydrix::terminal
