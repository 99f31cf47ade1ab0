// Positioned reads and writes in pieces, for the file services of each platform: the system
// moves at most a part of a transfer per call (a 32-bit count, a signal, a short write).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Moves up to size bytes between memory at `bytes` and the file from `offset` on, piece after
// piece: piece(position, memory, count, moved) moves at most count bytes and sets `moved`,
// false when the system refused. Ends early when a piece moves nothing (the end of a file
// being read); `done` then falls short of size.
template <typename Byte, typename Piece>
bool MoveInPieces(std::uint64_t offset, Byte* bytes, std::size_t size, std::size_t& done,
                  Piece piece) {
    done = 0;
    while (done < size) {
        std::size_t moved = 0;
        if (!piece(offset + done, bytes + done, size - done, moved)) {
            return false;
        }
        if (moved == 0) {
            break;
        }
        done += moved;
    }
    return true;
}

// Writes all size bytes of data at offset: true when every byte was written. A write that
// moves nothing would never end, so it is a fault: stalled() sets the error it stands for.
template <typename Piece, typename Stalled>
bool WriteInPieces(std::uint64_t offset, const void* data, std::size_t size, Piece piece,
                   Stalled stalled) {
    std::size_t done = 0;
    if (!MoveInPieces(offset, static_cast<const char*>(data), size, done, piece)) {
        return false;
    }
    if (done < size) {
        stalled();
        return false;
    }
    return true;
}

} // namespace platform
