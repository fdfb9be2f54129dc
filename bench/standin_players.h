#pragma once

#include "platform/flash_player.h"
#include "platform/media_player.h"

#include <QHash>
#include <QWidget>

namespace platform {

// Stand-in players: a plain surface that names the loaded file. They keep what was set
// and raise no events by themselves.
class StandInSurface : public QWidget {
  public:
    QString text;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

class StandInFlashPlayer : public ShockwaveFlash {
  public:
    QWidget* Widget() override { return &surface_; }
    void SetMovie(const QString& path) override;
    QString Movie() const override { return movie_; }
    void Rewind() override { frame_ = 0; }
    void Play() override { playing_ = true; }
    void Stop() override { playing_ = false; }
    void SetVariable(const QString& name, const QString& value) override;
    int CurrentFrame() override { return frame_; }
    int TotalFrames() override { return 1; }

  private:
    void Repaint();
    StandInSurface surface_;
    QString movie_;
    QHash<QString, QString> variables_;
    int frame_ = 0;
    bool playing_ = true;
};

class StandInMediaPlayer : public WindowsMediaPlayer {
  public:
    QWidget* Widget() override { return &surface_; }
    void SetURL(const QString& url) override;
    QString URL() const override { return url_; }
    void Play() override {}
    void SetStretchToFit(bool) override {}
    void SetEnabled(bool) override {}

  private:
    StandInSurface surface_;
    QString url_;
};

}  // namespace platform
