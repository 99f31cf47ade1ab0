// The glyph rain: 165 columns, each dropping one row per tick of the 100 ms frame timer.
#pragma once

#include "show/glyphsheet.h"
#include "show/window_loop.h"

#include <array>
#include <cstdint>
#include <memory>

namespace show {

class TMatrixColumn {
public:
    TMatrixColumn() { fRendervar = 0; }

    int StartPos() const { return fStartPos; }
    void SetStartPos(int value) {
        fStartPos = value;
        fCurrentPosition = value;
    }
    int NumLetters() const { return FNumLetters; }
    void SetNumLetters(int value) { FNumLetters = value; }
    TGraphicManager* Intense() const { return fIntense; }
    void SetIntense(TGraphicManager* sheet) {
        fIntense = sheet;
        FLetterWIdth = sheet->MapWidth();
        FLetterHeight = sheet->MapHeight();
    }
    TGraphicManager* Normal() const { return FNormal; }
    void SetNormal(TGraphicManager* sheet) {
        FNormal = sheet;
        FLetterWIdth = sheet->MapWidth();
        FLetterHeight = sheet->MapHeight();
    }
    int ColumnX() const { return fColumnX; }
    void SetColumnX(int value) { fColumnX = value; }
    int MaxY() const { return fMaxy; }
    void SetMaxY(int value) { fMaxy = value; }

    int CurrentPosition() const { return fCurrentPosition; }
    int LastSentIndex() const { return flastSentIndex; }

    // One step: a new head glyph one row further down, the previous head redrawn dim as the
    // trail, and a wrap to the top (at a new x) below MaxY.
    void RenderNext();

private:
    std::int32_t fStartPos = 0;
    std::int32_t fRendervar = 0;
    TGraphicManager* fIntense = nullptr;
    TGraphicManager* FNormal = nullptr;
    std::int32_t FNumLetters = 0;
    std::int32_t flastSentIndex = 0;
    std::int32_t fCurrentPosition = 0;
    std::int32_t fMaxy = 0;
    std::int32_t fColumnX = 0;
    std::int32_t FLetterWIdth = 0;
    std::int32_t FLetterHeight = 0;
};

constexpr int NumColumns = 165;
// Cells a glyph column picks from; the sheets hold 41, the last is never used.
constexpr int kGlyphLetters = 40;
constexpr int kEraserLetters = 2;
constexpr int kWrapPositions = 100;

// The rain's program-wide state.
struct RainState {
    std::array<std::unique_ptr<TMatrixColumn>, NumColumns> Columns;
    std::int32_t IntroTicks = 0;
    std::int32_t FrameCount = 0;

    bool HasColumns() const { return Columns[0] != nullptr; }
};

// Column set-up of an activation: re-seeds, then three draws per column. H and W are the
// window's full height and width, frame and caption included.
void SetUpColumns(RainState& rain, const GlyphSheets& sheets, int H, int W);

// What a tick of the frame timer asks of the window besides its loop.
class FrameTimerHost {
public:
    virtual ~FrameTimerHost() = default;
    virtual void RepaintRabbit() = 0;
    // Runs the typed intro; switches the timer off first and sets IntroTicks to -1 at its end.
    virtual void IntroStart() = 0;
};

constexpr int kIntroTick = 100;
constexpr int kRepaintFrames = 20;
constexpr int kFrameCycleEnd = 70;
constexpr int kFrameCycleRestart = 21;

// The frame timer's tick handler.
void Timer1Timer(RainState& rain, FrameTimerHost& host, WindowLoop& loop);

} // namespace show
