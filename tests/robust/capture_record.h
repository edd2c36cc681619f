// The simulator's record of what it sent against the station's capture file: the
// capture must hold exactly the bytes between the prompt that started it (the 4th) and
// the one that stopped it (the 12th). Files are compared block by block: a soak's
// record runs to gigabytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace hydrix::robust {

// Offsets of the first count prompts in the file, read in blocks: a soak's record runs
// to gigabytes.
inline std::vector<uintmax_t> PromptOffsets(const std::filesystem::path& path, size_t count) {
    std::vector<uintmax_t> at;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(1 << 16);
    uintmax_t base = 0;
    while (at.size() < count && in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<size_t>(in.gcount());
        for (size_t i = 0; i < got && at.size() < count; ++i) {
            if (block[i] == '>') {
                at.push_back(base + i);
            }
        }
        base += got;
    }
    return at;
}

// Whether the whole of file b stands in file a from offset on, compared block by block.
inline bool FileHoldsAt(const std::filesystem::path& a, uintmax_t offset, const std::filesystem::path& b) {
    std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
    inA.seekg(static_cast<std::streamoff>(offset));
    std::vector<char> blockA(1 << 16), blockB(1 << 16);
    while (inB) {
        inB.read(blockB.data(), static_cast<std::streamsize>(blockB.size()));
        const auto got = inB.gcount();
        inA.read(blockA.data(), got);
        if (inA.gcount() != got || !std::equal(blockB.begin(), blockB.begin() + got, blockA.begin())) {
            return false;
        }
    }
    return true;
}

// The capture holds the bytes between the 4th prompt (capture start) and the 12th
// (capture stop), neither prompt included.
inline bool CaptureMatchesRecord(const std::filesystem::path& record, const std::filesystem::path& capture) {
    const std::vector<uintmax_t> prompts = PromptOffsets(record, 12);
    if (prompts.size() < 12) {
        return false;
    }
    const uintmax_t start = prompts[3], end = prompts[11];
    return std::filesystem::file_size(capture) == end - start - 1 && FileHoldsAt(record, start + 1, capture);
}

}  // namespace hydrix::robust
