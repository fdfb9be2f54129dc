#pragma once

#include <QWidget>

namespace platform {

// The window measures positions and sizes in twips: 15 twips to the pixel at 96 dpi.
constexpr double kTwipsPerPixel = 15.0;
int TwipsToPixels(double twips);

// A control with a visible surface on the window. Its place and size are kept in twips
// as single-precision numbers, exactly as set, and applied to its widget in pixels.
class VisualControl {
  public:
    virtual ~VisualControl() = default;
    virtual QWidget* Widget() = 0;

    float Left() const { return left_; }
    float Top() const { return top_; }
    float Width() const { return width_; }
    float Height() const { return height_; }
    void SetLeft(float twips);
    void SetTop(float twips);
    void SetWidth(float twips);
    void SetHeight(float twips);
    void SetGeometry(float left, float top, float width, float height);
    virtual void SetVisible(bool visible);
    bool Visible() const { return visible_; }

  protected:
    // Called after the place or size changed, with the widget already moved.
    virtual void GeometryChanged() {}

  private:
    void Apply();
    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
};

}  // namespace platform
