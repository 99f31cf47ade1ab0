// The volume column's codes, each with what it does on a row's first tick and on its later
// ticks.
#include "music/volume_column.h"

#include "music/channel.h"
#include "music/effects.h"
#include "music/wrap.h"

namespace music {

namespace {

// The codes: the byte's high nibble.
enum VolumeColumn : std::uint8_t {
    VcVolume0To15 = 0x1, // 0x10 to 0x4F set the volume 0 to 63
    VcVolume16To31 = 0x2,
    VcVolume32To47 = 0x3,
    VcVolume48To63 = 0x4,
    VcVolume64 = 0x5, // only 0x50 sets the volume 64; 0x51 to 0x5F do nothing
    VcSlideDown = 0x6,
    VcSlideUp = 0x7,
    VcFineSlideDown = 0x8,
    VcFineSlideUp = 0x9,
    VcVibratoSpeed = 0xA,
    VcVibratoDepth = 0xB,
    VcSetPanning = 0xC,
    VcPanningSlideLeft = 0xD,
    VcPanningSlideRight = 0xE,
    VcTonePorta = 0xF,
};
constexpr int kVolumeColumnCodes = 16;
constexpr std::uint8_t kVcVolume0 = 0x10;  // the byte that sets the volume 0
constexpr std::uint8_t kVcVolume64 = 0x50; // the byte that sets the volume 64

int Value(std::uint8_t b) {
    return b & 0x0F;
}

void SetVolume(ChannelState& c, std::uint8_t b) {
    c.volume = b - kVcVolume0;
}

void SetVolume64(ChannelState& c, std::uint8_t b) {
    if (b == kVcVolume64) {
        c.volume = 64;
    }
}

void SlideDown(ChannelState& c, std::uint8_t b) {
    c.volume = WrapSub(c.volume, Value(b));
    c.flags |= UpdateVolume;
}

void SlideUp(ChannelState& c, std::uint8_t b) {
    c.volume = WrapAdd(c.volume, Value(b));
    c.flags |= UpdateVolume;
}

void SetVibratoSpeed(ChannelState& c, std::uint8_t b) {
    c.vibratoSpeed = static_cast<std::uint8_t>(Value(b));
}

void SetVibratoDepth(ChannelState& c, std::uint8_t b) {
    c.vibratoDepth = static_cast<std::uint8_t>(Value(b));
}

void Vibrato(ChannelState& c, std::uint8_t b) {
    SetVibratoDepth(c, b);
    ApplyVibrato(c);
}

void SetPanning(ChannelState& c, std::uint8_t b) {
    c.panning = Value(b) * 16;
    c.flags |= UpdatePanning;
}

void PanningSlideLeft(ChannelState& c, std::uint8_t b) {
    c.panning = WrapSub(c.panning, Value(b));
    c.flags |= UpdatePanning;
}

void PanningSlideRight(ChannelState& c, std::uint8_t b) {
    c.panning = WrapAdd(c.panning, Value(b));
    c.flags |= UpdatePanning;
}

// Slides to the note from where the channel is: the note does not trigger.
void StartTonePorta(ChannelState& c, std::uint8_t b) {
    if (Value(b) != 0) {
        c.tonePortamentoSpeed = static_cast<std::uint8_t>(Value(b) * 16);
    }
    c.portamentoTarget = c.notePeriod;
    c.flags &= ~UpdateTrigger;
}

void TonePorta(ChannelState& c, std::uint8_t) {
    TonePortaStep(c);
}

using VolumeColumnHandler = void (*)(ChannelState& c, std::uint8_t b);

struct VolumeColumnHandlers {
    VolumeColumnHandler firstTick;
    VolumeColumnHandler laterTicks;
};

// The handlers by code (a struct: a table built by a constant function). Slides move on
// every tick, the first included; a fine slide takes its one step, a slide's, on the first.
struct VolumeColumnTable {
    VolumeColumnHandlers byCode[kVolumeColumnCodes];
};

constexpr VolumeColumnTable kVolumeColumn = [] {
    VolumeColumnTable t{};
    VolumeColumnHandlers* h = t.byCode;
    h[VcVolume0To15] = {SetVolume, nullptr};
    h[VcVolume16To31] = {SetVolume, nullptr};
    h[VcVolume32To47] = {SetVolume, nullptr};
    h[VcVolume48To63] = {SetVolume, nullptr};
    h[VcVolume64] = {SetVolume64, nullptr};
    h[VcSlideDown] = {SlideDown, SlideDown};
    h[VcSlideUp] = {SlideUp, SlideUp};
    h[VcFineSlideDown] = {SlideDown, nullptr};
    h[VcFineSlideUp] = {SlideUp, nullptr};
    h[VcVibratoSpeed] = {SetVibratoSpeed, nullptr};
    h[VcVibratoDepth] = {SetVibratoDepth, Vibrato};
    h[VcSetPanning] = {SetPanning, nullptr};
    h[VcPanningSlideLeft] = {PanningSlideLeft, PanningSlideLeft};
    h[VcPanningSlideRight] = {PanningSlideRight, PanningSlideRight};
    h[VcTonePorta] = {StartTonePorta, TonePorta};
    return t;
}();

} // namespace

void VolumeColumnFirstTick(ChannelState& c, std::uint8_t b) {
    if (const VolumeColumnHandler handler = kVolumeColumn.byCode[b >> 4].firstTick) {
        handler(c, b);
    }
}

void VolumeColumnLaterTick(ChannelState& c, std::uint8_t b) {
    if (const VolumeColumnHandler handler = kVolumeColumn.byCode[b >> 4].laterTicks) {
        handler(c, b);
    }
}

} // namespace music
