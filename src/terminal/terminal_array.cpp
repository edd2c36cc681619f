#include "terminal/terminal_array.h"

#include <algorithm>
#include <cstring>

namespace hydrix::terminal {

TerminalArray::TerminalArray(int itemSize)
    : itemSize_(itemSize == 1 || itemSize == 2 || itemSize == 4 ? itemSize : 1) {}

int TerminalArray::StrideFor(int itemSize, int colCount) {
    // One-byte rows fill whole 32-bit words, two-byte rows whole pairs.
    switch (itemSize) {
    case 1:
        return (colCount + 3) / 4 * 4;
    case 2:
        return (colCount + 1) / 2 * 2;
    default:
        return colCount;
    }
}

void TerminalArray::SetDefaultItem(uint32_t value) {
    switch (itemSize_) {
    case 1:
        defaultItem_ = value & 0xFFu;
        break;
    case 2:
        defaultItem_ = value & 0xFFFFu;
        break;
    default:
        defaultItem_ = value;
        break;
    }
}

void TerminalArray::Fill(std::byte* p, int count) const {
    FillWith(p, count, defaultItem_);
}

void TerminalArray::FillWith(std::byte* p, int count, uint32_t value) const {
    if (count <= 0) {
        return;
    }
    switch (itemSize_) {
    case 1:
        std::memset(p, static_cast<int>(value & 0xFFu), static_cast<size_t>(count));
        break;
    case 2:
        std::fill_n(reinterpret_cast<uint16_t*>(p), count, static_cast<uint16_t>(value));
        break;
    default:
        std::fill_n(reinterpret_cast<uint32_t*>(p), count, value);
        break;
    }
}

void TerminalArray::SetColCount(int n) {
    if (n == colCount_ || n < 0) {
        return;
    }
    int stride = StrideFor(itemSize_, n);
    if (data_ && stride == stride_) {
        // The block stays; columns that come back into view must not show old cells.
        if (n > colCount_) {
            for (int r = 0; r < rowCount_; ++r) {
                Fill(RowPtr(r) + static_cast<size_t>(colCount_) * itemSize_, n - colCount_);
            }
        }
    } else {
        Reallocate(rowCount_, stride, std::min(colCount_, n));
    }
    colCount_ = n;
}

void TerminalArray::SetRowCount(int n) {
    if (n == rowCount_ || n < 0) {
        return;
    }
    Reallocate(n, stride_ < 0 ? StrideFor(itemSize_, colCount_) : stride_, colCount_);
    rowCount_ = n;
}

void TerminalArray::Reallocate(int rows, int stride, int copyCols) {
    if (rows == 0 || stride == 0) {
        return;
    }
    if (data_ && rows == rowCount_ && stride == stride_) {
        return;
    }
    size_t rowBytes = static_cast<size_t>(stride) * itemSize_;
    std::unique_ptr<std::byte[]> block(new std::byte[static_cast<size_t>(rows) * rowBytes]);
    for (int r = 0; r < rows; ++r) {
        Fill(block.get() + r * rowBytes, stride);
    }
    if (data_) {
        // Bottom-aligned: the newest rows survive.
        int keep = std::min(rowCount_, rows);
        size_t copyBytes = static_cast<size_t>(std::min(copyCols, stride)) * itemSize_;
        for (int i = 1; i <= keep; ++i) {
            std::memcpy(block.get() + (rows - i) * rowBytes, RowPtr(rowCount_ - i), copyBytes);
        }
    }
    data_ = std::move(block);
    stride_ = stride;
    first_ = 0;
}

void TerminalArray::Clear() {
    if (!data_) {
        return;
    }
    Fill(data_.get(), rowCount_ * stride_);
}

void TerminalArray::ClearItems(int row, int fromCol, int toCol) {
    if (!data_ || row < 0 || row >= rowCount_) {
        return;
    }
    fromCol = std::max(fromCol, 0);
    toCol = std::min(toCol, colCount_ - 1);
    if (fromCol > toCol) {
        return;
    }
    Fill(RowPtr(row) + static_cast<size_t>(fromCol) * itemSize_, toCol - fromCol + 1);
}

void TerminalArray::DeleteItems(int count, int row, int col) {
    if (!data_ || row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) {
        return;
    }
    count = std::min(count, colCount_ - col);
    if (count <= 0) {
        return;
    }
    std::byte* p = RowPtr(row);
    std::memmove(p + static_cast<size_t>(col) * itemSize_, p + static_cast<size_t>(col + count) * itemSize_,
                 static_cast<size_t>(colCount_ - col - count) * itemSize_);
    Fill(p + static_cast<size_t>(colCount_ - count) * itemSize_, count);
}

void TerminalArray::InsertItems(int count, int row, int col) {
    if (!data_ || row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) {
        return;
    }
    count = std::min(count, colCount_ - col);
    if (count <= 0) {
        return;
    }
    std::byte* p = RowPtr(row);
    std::memmove(p + static_cast<size_t>(col + count) * itemSize_, p + static_cast<size_t>(col) * itemSize_,
                 static_cast<size_t>(colCount_ - col - count) * itemSize_);
    Fill(p + static_cast<size_t>(col) * itemSize_, count);
}

void TerminalArray::ReplaceItem(uint32_t oldItem, uint32_t newItem) {
    if (!data_) {
        return;
    }
    for (int r = 0; r < rowCount_; ++r) {
        std::byte* p = RowPtr(r);
        switch (itemSize_) {
        case 1:
            std::replace(reinterpret_cast<uint8_t*>(p), reinterpret_cast<uint8_t*>(p) + colCount_,
                         static_cast<uint8_t>(oldItem), static_cast<uint8_t>(newItem));
            break;
        case 2:
            std::replace(reinterpret_cast<uint16_t*>(p), reinterpret_cast<uint16_t*>(p) + colCount_,
                         static_cast<uint16_t>(oldItem), static_cast<uint16_t>(newItem));
            break;
        default:
            std::replace(reinterpret_cast<uint32_t*>(p), reinterpret_cast<uint32_t*>(p) + colCount_, oldItem, newItem);
            break;
        }
    }
}

void TerminalArray::ScrollRows(int count, int startRow, int endRow) {
    if (!data_ || count == 0) {
        return;
    }
    if (startRow > endRow) {
        std::swap(startRow, endRow);
    }
    startRow = std::max(startRow, 0);
    endRow = std::min(endRow, rowCount_ - 1);
    if (startRow > endRow) {
        return;
    }
    count = std::clamp(count, -rowCount_, rowCount_);
    int span = endRow - startRow;
    int k = count > 0 ? count : -count;
    if (span < k) {
        for (int r = startRow; r <= endRow; ++r) {
            Fill(RowPtr(r), stride_);
        }
        return;
    }
    if (startRow == 0 && endRow == rowCount_ - 1) {
        // The whole array: turn the ring and clear the rows that came round.
        if (count > 0) {
            first_ = (first_ + k) % rowCount_;
            for (int r = rowCount_ - k; r < rowCount_; ++r) {
                Fill(RowPtr(r), stride_);
            }
        } else {
            first_ = (first_ + rowCount_ - k) % rowCount_;
            for (int r = 0; r < k; ++r) {
                Fill(RowPtr(r), stride_);
            }
        }
        return;
    }
    size_t rowBytes = static_cast<size_t>(colCount_) * itemSize_;
    if (count > 0) {
        for (int i = 0; i <= span - k; ++i) {
            std::memcpy(RowPtr(startRow + i), RowPtr(startRow + i + k), rowBytes);
        }
        for (int r = startRow + span - k + 1; r <= endRow; ++r) {
            Fill(RowPtr(r), stride_);
        }
    } else {
        for (int i = 0; i <= span - k; ++i) {
            std::memcpy(RowPtr(endRow - i), RowPtr(endRow - i - k), rowBytes);
        }
        for (int r = startRow; r < endRow - (span - k); ++r) {
            Fill(RowPtr(r), stride_);
        }
    }
}

void TerminalArray::WriteItems(const void* source, int count, int col, int row) {
    if (!data_ || row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) {
        return;
    }
    count = std::min(count, colCount_ - col);
    if (count <= 0) {
        return;
    }
    std::memcpy(RowPtr(row) + static_cast<size_t>(col) * itemSize_, source, static_cast<size_t>(count) * itemSize_);
}

void TerminalArray::FillItems(uint32_t value, int count, int col, int row) {
    if (!data_ || row < 0 || row >= rowCount_ || col < 0 || col >= colCount_) {
        return;
    }
    FillWith(RowPtr(row) + static_cast<size_t>(col) * itemSize_, std::min(count, colCount_ - col), value);
}

uint32_t TerminalArray::Item(int row, int col) const {
    const void* p = GetItemPtr(row, col);
    if (!p) {
        return 0;
    }
    switch (itemSize_) {
    case 1:
        return *static_cast<const uint8_t*>(p);
    case 2:
        return *static_cast<const uint16_t*>(p);
    default:
        return *static_cast<const uint32_t*>(p);
    }
}

}  // namespace hydrix::terminal
