// xmrender's rendering: the observer that finds the song's end tick by tick, and the engine
// driven block by block into a frame sink up to that end or the time limit.
#include "music/xmrender/render_song.h"

namespace xmrender {

bool SongEnd::TickStarts(const music::SongState& song) {
    // Each tick lasts the samples per tick in force when it started; nothing changes that
    // value between two ticks.
    if (started_) {
        frames_ += song.samplesPerTick;
    }
    started_ = true;
    if (song.tick != 0) {
        return true;
    }
    const std::uint32_t order =
        song.nextOrder >= 0 ? static_cast<std::uint32_t>(song.nextOrder) : song.order;
    const std::uint32_t row =
        song.nextRow >= 0 ? static_cast<std::uint32_t>(song.nextRow) : song.row;
    std::string key;
    key.reserve(8 + song.channelCount);
    for (std::uint32_t v : {order, row}) {
        for (int i = 0; i < 4; ++i)
            key.push_back(static_cast<char>(v >> (8 * i)));
    }
    for (std::uint32_t c = 0; c < song.channelCount; ++c) {
        key.push_back(static_cast<char>(song.channels[c].loopCounter));
    }
    if (orderListEnded_) {
        orderListEnded_ = false;
        if (!PassEnds(End::OrderList, order, row)) {
            return false;
        }
    } else if (!played_.insert(key).second) {
        if (!PassEnds(End::Repeat, order, row)) {
            return false;
        }
    } else {
        return true;
    }
    played_.clear();
    played_.insert(key); // into the emptied set: the next pass's first row
    return true;
}

// false: that was the last pass.
bool SongEnd::PassEnds(End why, std::uint32_t order, std::uint32_t row) {
    if (passEnds_.empty()) {
        songEnd_ = why;
        endOrder_ = order;
        endRow_ = row;
    }
    lastEnd_ = why;
    passEnds_.push_back(frames_);
    return passEnds_.size() < passes_;
}

int SongEnd::PassesWithin(std::uint64_t frames) const {
    int n = 0;
    for (std::uint64_t end : passEnds_) {
        n += end <= frames;
    }
    return n;
}

Outcome RenderSong(music::Engine& engine, int passes, std::uint64_t maxFrames, FrameSink& sink) {
    SongEnd watch(passes);
    engine.observer = &watch;
    engine.noLoop = 0;
    Outcome out;
    std::int16_t block[music::kBlockFrames * 2];
    bool songEnded = false;
    while (out.frames < maxFrames) {
        const auto start = std::chrono::steady_clock::now();
        const bool whole = music::RenderBlock(engine, block);
        std::uint64_t n = music::kBlockFrames;
        if (!whole) {
            // The frames of this block before the end are still in the mix buffer.
            n = watch.Frames() - out.frames;
            music::ConvertBlock(engine.mixBuffer, block, static_cast<int>(2 * n));
        }
        out.engineTime += std::chrono::steady_clock::now() - start;
        songEnded = !whole && n <= maxFrames - out.frames;
        if (n > maxFrames - out.frames) {
            n = maxFrames - out.frames;
        }
        if (n > 0 && !sink.Take(block, static_cast<std::size_t>(n))) {
            out.sinkFailed = true;
            break;
        }
        out.frames += n;
        if (!whole) {
            break;
        }
    }
    engine.observer = nullptr;
    out.end = songEnded ? watch.LastEndedBy() : End::TimeLimit;
    out.passes = watch.PassesWithin(out.frames);
    out.songKnown = watch.SongKnown() && watch.SongFrames() <= out.frames;
    out.songFrames = watch.SongFrames();
    out.songEnd = watch.SongEndedBy();
    out.endOrder = watch.EndOrder();
    out.endRow = watch.EndRow();
    return out;
}

} // namespace xmrender
