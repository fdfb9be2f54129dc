#pragma once

#include "platform/visual_control.h"

#include <QImage>
#include <QWidget>

// The photo area: it stretches its picture to its own size.
class PhotoArea : public platform::VisualControl {
  public:
    PhotoArea();
    QWidget* Widget() override { return &view_; }
    void SetPicture(const QImage& picture);
    const QImage& Picture() const;

  private:
    class View : public QWidget {
      public:
        QImage picture;

      protected:
        void paintEvent(QPaintEvent* event) override;
    };
    View view_;
};
