#pragma once

#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>

// Keeps the program's window over the whole of one screen: the one named by
// [system] screen (an output name such as "HDMI-1"), else the primary one. A window
// manager is asked for full screen; where none grants it (a kiosk's session runs none),
// the frameless window takes the screen's geometry itself. The window follows its
// screen's size, and moves when screens come and go or the named one appears.
class ScreenKeeper : public QObject {
  public:
    ScreenKeeper(QWidget* window, QString wantedName);

    // Shows the window over its screen.
    void Show();

  private:
    // The screen named `wanted` among `screens`, matched exactly and then regardless of
    // letter case; else `primary`.
    static QScreen* Choose(const QList<QScreen*>& screens, QScreen* primary, const QString& wanted);
    // Fits the window after the screens have settled: a mode change reports the size and
    // the place of a screen one after the other.
    void FitSoon();
    void Fit();

    QWidget* window_;
    QString wanted_;
    QPointer<QScreen> screen_;
    QTimer settle_;
};
