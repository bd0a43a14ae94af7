#include "splash/SplashScreenEx.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <cstdlib>

CSplashScreenEx::CSplashScreenEx(QWidget *owner)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("splash"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::StrongFocus);
}

void CSplashScreenEx::SetBitmap(const QPixmap &picture, const QPixmap &sharp, const QColor &key)
{
    m_picture = picture;
    m_sharp = sharp;
    m_sharp.setDevicePixelRatio(2.0);
    setFixedSize(picture.size());
    // MaskInColor: the key's pixels become transparent, everything else stays.
    setMask(picture.createMaskFromColor(key, Qt::MaskInColor));
    update();
}

void CSplashScreenEx::SetText(const QString &text)
{
    m_text = text;
    update();
}

bool CSplashScreenEx::CanFade()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void CSplashScreenEx::ShowSplash()
{
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    if (!CanFade()) {
        show();
        return;
    }
    setWindowOpacity(0.0);
    show();
    raise();
    activateWindow();
    auto *fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(FADE_IN_MS);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CSplashScreenEx::FadeOutAndDestroy()
{
    if (m_fade)
        m_fade->stop();
    if (!CanFade() || !isVisible()) {
        hide();
        deleteLater();
        return;
    }
    auto *fade = new QPropertyAnimation(this, "windowOpacity", this);
    fade->setDuration(FADE_OUT_MS);
    fade->setStartValue(windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, this, [this] {
        hide();
        deleteLater();
    });
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void CSplashScreenEx::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool sharp = devicePixelRatio() > 1.0 && m_sharp.size() == 2 * m_picture.size();
    painter.drawPixmap(0, 0, sharp ? m_sharp : m_picture);
    if (m_text.isEmpty())
        return;
    QFont f = font();
    f.setPointSize(10);
    f.setWeight(QFont::Normal);
    painter.setFont(f);
    painter.setPen(Qt::white);
    painter.drawText(m_textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, m_text);
}

void CSplashScreenEx::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        std::_Exit(0); // the user gave up the start: end the process at once
    QWidget::keyPressEvent(event);
}
