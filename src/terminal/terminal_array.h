// One plane of terminal cells (characters, character sets, attributes or colours):
// the terminal buffer keeps five of these of equal shape and the emulator paints
// from their rows. Rows are kept in a ring, so scrolling the whole array moves no cells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "comm/exceptions.h"

namespace hydrix::terminal {

// The general exception of the terminal model; messages read "Class.method: text".
class ETerminalError : public comm::Exception {
public:
    using comm::Exception::Exception;
};

// A two-dimensional array of fixed-size items (1, 2 or 4 bytes). Rows and columns are
// 0-based; row 0 is the oldest. Every row is contiguous in memory.
class TerminalArray {
public:
    // Any item size other than 1, 2 or 4 becomes 1.
    explicit TerminalArray(int itemSize);

    TerminalArray(const TerminalArray&) = delete;
    TerminalArray& operator=(const TerminalArray&) = delete;

    int ItemSize() const { return itemSize_; }
    int ColCount() const { return colCount_; }
    // Reallocates; rows keep min(old, new) items. Setting the same value does nothing.
    void SetColCount(int n);
    int RowCount() const { return rowCount_; }
    // Reallocates bottom-aligned: growing adds blank rows at the oldest end, shrinking
    // drops the oldest rows.
    void SetRowCount(int n);
    // Items allocated per row; -1 until first allocated.
    int Stride() const { return stride_; }

    uint32_t DefaultItem() const { return defaultItem_; }
    // Keeps the low ItemSize bytes.
    void SetDefaultItem(uint32_t value);

    void Clear();
    void ClearItems(int row, int fromCol, int toCol);
    void DeleteItems(int count, int row, int col);
    void InsertItems(int count, int row, int col);
    void ReplaceItem(uint32_t oldItem, uint32_t newItem);
    // count > 0 scrolls rows startRow..endRow up (towards row 0), count < 0 down; rows
    // left behind are cleared. A scroll over every row only turns the ring.
    void ScrollRows(int count, int startRow, int endRow);
    void WriteItems(const void* source, int count, int col, int row);
    // Sets count items (cut to ColCount-col) from col on to value's low ItemSize bytes.
    void FillItems(uint32_t value, int count, int col, int row);

    // Address of one item, nullptr while nothing is allocated or out of range. The row
    // continues contiguously up to ColCount; the address is invalid after a resize.
    void* GetItemPtr(int row, int col) {
        return const_cast<void*>(static_cast<const TerminalArray*>(this)->GetItemPtr(row, col));
    }
    const void* GetItemPtr(int row, int col) const {
        if (!data_ || row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) {
            return nullptr;
        }
        return RowPtr(row) + static_cast<size_t>(col) * itemSize_;
    }
    // The item's value (zero-extended); 0 out of range.
    uint32_t Item(int row, int col) const;

private:
    std::byte* RowPtr(int row) const {
        int physical = row + first_;
        if (physical >= rowCount_) {
            physical -= rowCount_;
        }
        return data_.get() + static_cast<size_t>(physical) * stride_ * itemSize_;
    }
    void Fill(std::byte* p, int count) const;
    void FillWith(std::byte* p, int count, uint32_t value) const;
    void Reallocate(int rows, int stride, int copyCols);
    static int StrideFor(int itemSize, int colCount);

    int itemSize_;
    int colCount_ = 0;
    int stride_ = -1;
    int rowCount_ = 0;
    uint32_t defaultItem_ = 0;
    std::unique_ptr<std::byte[]> data_;
    int first_ = 0;  // physical index of row 0
};

}  // namespace hydrix::terminal
