// xmrender's rendering: the engine driven block by block to the song's real end, the one the
// players people use find. A song ends the first time playback would start a row it has
// already played in the same state (order position, row and every channel's pattern-loop
// counter, so that a pattern loop's rounds are not repeats), or after the last row of the
// order list. The player inside the program knows nothing of this: it only lends its
// observer hook.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "music/engine.h"

namespace xmrender {

enum class End { OrderList, Repeat, TimeLimit };

// Counts the frames played and ends playback after the given number of passes through the
// song. A pass ends where the song would end; the next one goes on from there (the jump
// followed, or the restart position after the order list).
class SongEnd final : public music::PlaybackObserver {
public:
    explicit SongEnd(int passes) : passes_(passes < 1 ? 1 : static_cast<std::size_t>(passes)) {}

    bool TickStarts(const music::SongState& song) override;
    void OrderListEnds() override { orderListEnded_ = true; }

    std::uint64_t Frames() const { return frames_; } // played by the ticks before this one
    // Passes that ended within the first frames: a block renders past the limit.
    int PassesWithin(std::uint64_t frames) const;
    bool SongKnown() const { return !passEnds_.empty(); }
    std::uint64_t SongFrames() const { return passEnds_.empty() ? 0 : passEnds_[0]; }
    End SongEndedBy() const { return songEnd_; }
    End LastEndedBy() const { return lastEnd_; }
    std::uint32_t EndOrder() const { return endOrder_; } // where the first pass ended
    std::uint32_t EndRow() const { return endRow_; }

private:
    bool PassEnds(End why, std::uint32_t order, std::uint32_t row);

    std::size_t passes_;
    bool started_ = false;
    bool orderListEnded_ = false;
    std::uint64_t frames_ = 0;
    std::vector<std::uint64_t> passEnds_; // in frames
    End songEnd_ = End::TimeLimit;
    End lastEnd_ = End::TimeLimit;
    std::uint32_t endOrder_ = 0, endRow_ = 0;
    std::set<std::string> played_; // rows of this pass: order, row and loop counters
};

// Takes the rendered frames (interleaved left and right); false stops the render.
class FrameSink {
public:
    virtual bool Take(const std::int16_t* values, std::size_t frames) = 0;

protected:
    ~FrameSink() = default;
};

struct Outcome {
    std::uint64_t frames = 0; // given to the sink
    End end = End::TimeLimit;
    int passes = 0;         // whole passes rendered
    bool songKnown = false; // the first pass ended within the time limit
    std::uint64_t songFrames = 0;
    End songEnd = End::TimeLimit;
    std::uint32_t endOrder = 0, endRow = 0;
    bool sinkFailed = false;
    std::chrono::nanoseconds engineTime{0}; // spent inside the engine
};

// Renders passes times through the song (at least 1), at most maxFrames frames. The engine
// is freshly loaded; its no-loop flag is left clear, the ends are the observer's.
Outcome RenderSong(music::Engine& engine, int passes, std::uint64_t maxFrames, FrameSink& sink);

} // namespace xmrender
