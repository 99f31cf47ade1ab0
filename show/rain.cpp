// The glyph rain: a column's step, the columns' set-up and the frame timer's tick.
#include "show/rain.h"

#include "show/random.h"

namespace show {

void TMatrixColumn::RenderNext() {
    int k;
    do {
        k = static_cast<int>(Random(static_cast<std::uint32_t>(FNumLetters)));
    } while (k == flastSentIndex);
    fCurrentPosition += FLetterHeight;
    fIntense->BltDefaultIndex(k, fColumnX, fCurrentPosition);
    FNormal->BltDefaultIndex(flastSentIndex, fColumnX, fCurrentPosition - FLetterHeight);
    flastSentIndex = k;
    fRendervar = 0;
    if (fCurrentPosition > fMaxy) {
        fCurrentPosition = 0;
        fColumnX = static_cast<int>(Random(kWrapPositions)) * FLetterWIdth;
    }
}

void SetUpColumns(RainState& rain, const GlyphSheets& sheets, int H, int W) {
    Randomize();
    for (int i = 0; i < NumColumns; ++i) {
        auto column = std::make_unique<TMatrixColumn>();
        column->SetStartPos(static_cast<int>(Random(static_cast<std::uint32_t>(H / 20))) * 20);
        if (Random(3) == 2) {
            column->SetIntense(sheets.BlackSheet.get());
            column->SetNormal(sheets.BlackSheet.get());
            column->SetNumLetters(kEraserLetters);
        } else {
            column->SetIntense(sheets.IntenseSheet.get());
            column->SetNormal(sheets.NormalSheet.get());
            column->SetNumLetters(kGlyphLetters);
        }
        column->SetColumnX(static_cast<int>(Random(static_cast<std::uint32_t>(W / 20))) * 20);
        column->SetMaxY(H);
        rain.Columns[i] = std::move(column);
    }
}

void Timer1Timer(RainState& rain, FrameTimerHost& host, WindowLoop& loop) {
    if (loop.WindowClosed()) {
        return;
    }
    if (rain.IntroTicks >= 0) {
        ++rain.IntroTicks;
    }
    if (rain.IntroTicks == kIntroTick) {
        host.IntroStart();
        if (loop.WindowClosed()) {
            return;
        }
    }
    loop.SetTimerEnabled(false);
    // However the frame ends, the timer must run again.
    struct Reenable {
        WindowLoop& loop;
        ~Reenable() {
            if (!loop.WindowClosed()) {
                loop.SetTimerEnabled(true);
            }
        }
    } reenable{loop};

    ++rain.FrameCount;
    if (rain.FrameCount <= kRepaintFrames) {
        loop.RepaintWindow();
    }
    if (rain.IntroTicks == -1) {
        host.RepaintRabbit();
    }
    if (rain.FrameCount == kFrameCycleEnd) {
        rain.FrameCount = kFrameCycleRestart;
    }
    if (!rain.HasColumns()) {
        return;
    }
    for (auto& column : rain.Columns) {
        column->RenderNext();
    }
}

} // namespace show
