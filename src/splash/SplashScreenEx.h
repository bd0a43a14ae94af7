// The start-up splash: a frameless window shaped from a picture, where every pixel of
// the colour key is cut out of the window, with one line of white text over it.
//
// GUI thread only. The main window creates it (as its owner) before it starts the
// start-up worker and calls FadeOutAndDestroy() when start-up is done; the splash then
// deletes itself. It has no time-out of its own. Esc pressed while it has the keyboard
// ends the whole process at once, as the user asked to give up the start.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QWidget>

class QPropertyAnimation;

class CSplashScreenEx : public QWidget {
    Q_OBJECT
public:
    static constexpr int FADE_IN_MS = 500;
    static constexpr int FADE_OUT_MS = 200;

    explicit CSplashScreenEx(QWidget *owner = nullptr);

    // The window's picture; pixels of exactly `key` are cut out of its shape. `sharp`,
    // when given, is the same picture at twice the size, painted instead on screens of
    // more than one device pixel per pixel; the shape stays the one of `picture`.
    void SetBitmap(const QPixmap &picture, const QPixmap &sharp = QPixmap(), const QColor &key = QColor(212, 120, 120));
    // The text line, drawn in white, word-wrapped and vertically centred in rect.
    void SetText(const QString &text);
    void SetTextRect(const QRect &rect) { m_textRect = rect; }
    QString Text() const { return m_text; }

    // Centres the window on the screen and shows it, fading in where the platform can.
    void ShowSplash();
    // Fades out (where the platform can), hides and deletes the window.
    void FadeOutAndDestroy();

    // Window fading needs a real window system; the offscreen and minimal platforms
    // have none, so the window is shown and hidden at once there.
    static bool CanFade();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPixmap m_picture;
    QPixmap m_sharp; // twice the size, device pixel ratio 2
    QString m_text;
    QRect m_textRect{QPoint(30, 50), QPoint(291, 160)};
    QPointer<QPropertyAnimation> m_fade;
};
