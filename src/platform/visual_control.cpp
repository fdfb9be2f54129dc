#include "platform/visual_control.h"

#include <cmath>

namespace platform {

int TwipsToPixels(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

void VisualControl::SetLeft(float twips) {
    left_ = twips;
    Apply();
}
void VisualControl::SetTop(float twips) {
    top_ = twips;
    Apply();
}
void VisualControl::SetWidth(float twips) {
    width_ = twips;
    Apply();
}
void VisualControl::SetHeight(float twips) {
    height_ = twips;
    Apply();
}
void VisualControl::SetGeometry(float left, float top, float width, float height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Apply();
}

void VisualControl::SetVisible(bool visible) {
    visible_ = visible;
    Widget()->setVisible(visible);
}

void VisualControl::Apply() {
    // A negative size, which a placement can compute, shows nothing.
    const int w = std::max(0, TwipsToPixels(width_));
    const int h = std::max(0, TwipsToPixels(height_));
    Widget()->setGeometry(TwipsToPixels(left_), TwipsToPixels(top_), w, h);
    GeometryChanged();
}

}  // namespace platform
