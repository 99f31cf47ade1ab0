// The main window under the pointer: the signature's hover, and clicks on the drawn controls.
#include "app/form1.h"

namespace app {

void TForm1::OnMouseMove(POINT p) {
    const int c = controls_.At(p);
    if (hoverControl_ == kSLabelFX1 && c != kSLabelFX1) {
        sLabelFX1MouseLeave();
    }
    hoverControl_ = c;
    if (c == kSLabelFX1) {
        sLabelFX1MouseMove();
    }
    if (!trackingLeave_) {
        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd_, 0};
        trackingLeave_ = TrackMouseEvent(&t) != 0;
    }
}

void TForm1::OnMouseLeave() {
    trackingLeave_ = false;
    if (hoverControl_ == kSLabelFX1) {
        sLabelFX1MouseLeave();
    }
    hoverControl_ = -1;
}

void TForm1::OnLButtonDown(POINT p) {
    pressedControl_ = controls_.At(p);
    SetCapture(hwnd_);
}

// A click is a press and a release over the same control.
void TForm1::OnLButtonUp(POINT p) {
    const int pressed = pressedControl_;
    pressedControl_ = -1;
    if (GetCapture() == hwnd_) {
        ReleaseCapture();
    }
    if (pressed < 0 || controls_.At(p) != pressed) {
        return;
    }
    if (pressed == kRabbit) {
        RabbitClick();
    } else if (pressed == kSLabelFX1) {
        sLabelFX1Click();
    }
}

} // namespace app
