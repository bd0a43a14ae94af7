// Draws Corvadin's own artwork: the splash picture (and its twice-as-sharp version for
// high-density screens), the window's icon, and the installed icons (the hicolor sizes
// and a scalable SVG, all from the same drawing; the window takes the SVG as well).
// Not part of the build; run it by hand when the artwork changes and commit the files
// (bash scripts/setup.sh --artwork installs what it needs):
//   g++ -std=c++20 -fPIC MakeArtwork.cpp $(pkg-config --cflags --libs Qt6Gui Qt6Svg) -o make-artwork
//   QT_QPA_PLATFORM=offscreen ./make-artwork ../../src/app/resources ../icons
// The splash's background is the colour key RGB(212,120,120), which the splash window
// cuts out of its shape, so only the board and the bird remain visible.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QDir>
#include <QSvgGenerator>

namespace {

const QColor kKey(212, 120, 120);

// A stylised corvid facing right, in a box of the given size at the origin.
QPainterPath birdPath(qreal w, qreal h)
{
    QPainterPath p;
    p.moveTo(0.05 * w, 0.62 * h);                                         // tail tip
    p.cubicTo(0.20 * w, 0.55 * h, 0.30 * w, 0.40 * h, 0.42 * w, 0.34 * h); // back
    p.cubicTo(0.50 * w, 0.12 * h, 0.70 * w, 0.08 * h, 0.78 * w, 0.22 * h); // head
    p.lineTo(0.98 * w, 0.30 * h);                                         // beak tip
    p.lineTo(0.80 * w, 0.36 * h);
    p.cubicTo(0.78 * w, 0.60 * h, 0.62 * w, 0.78 * h, 0.40 * w, 0.78 * h); // breast
    p.lineTo(0.46 * w, 0.96 * h);                                         // legs
    p.lineTo(0.40 * w, 0.96 * h);
    p.lineTo(0.34 * w, 0.78 * h);
    p.cubicTo(0.24 * w, 0.76 * h, 0.14 * w, 0.70 * h, 0.05 * w, 0.62 * h);
    p.closeSubpath();
    return p;
}

QPainterPath wingPath(qreal w, qreal h)
{
    QPainterPath p;
    p.moveTo(0.30 * w, 0.48 * h);
    p.cubicTo(0.42 * w, 0.36 * h, 0.58 * w, 0.40 * h, 0.66 * w, 0.50 * h);
    p.cubicTo(0.52 * w, 0.52 * h, 0.40 * w, 0.60 * h, 0.30 * w, 0.48 * h);
    p.closeSubpath();
    return p;
}

void drawBird(QPainter &g, const QRectF &box, const QColor &body, const QColor &wing, const QColor &eye)
{
    g.save();
    g.translate(box.topLeft());
    g.setPen(Qt::NoPen);
    g.setBrush(body);
    g.drawPath(birdPath(box.width(), box.height()));
    g.setBrush(wing);
    g.drawPath(wingPath(box.width(), box.height()));
    g.setBrush(eye);
    g.drawEllipse(QPointF(0.70 * box.width(), 0.22 * box.height()), box.width() * 0.028, box.width() * 0.028);
    g.restore();
}

// Small framed pictures pinned along the board's foot.
void drawPins(QPainter &g, qreal x, qreal y, int count, qreal size, qreal gap)
{
    const QColor frames[] = {QColor(255, 236, 179), QColor(255, 205, 210), QColor(248, 187, 208), QColor(255, 224, 178)};
    for (int i = 0; i < count; ++i) {
        const QRectF r(x + i * (size + gap), y, size, size * 0.8);
        g.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
        g.setBrush(frames[i % 4]);
        g.drawRoundedRect(r, 2, 2);
        g.setPen(Qt::NoPen);
        g.setBrush(QColor(183, 28, 28));
        g.drawEllipse(QPointF(r.center().x(), r.top()), 2.5, 2.5);
    }
}

// The splash at `scale` times its 320 x 200 size.
QImage splashPicture(int scale)
{
    QImage img(320 * scale, 200 * scale, QImage::Format_RGB32);
    img.fill(kKey);
    QPainter g(&img);
    g.scale(scale, scale);
    // The board's edge is drawn without smoothing so no blend of the key colour remains
    // around the cut-out shape.
    g.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient bg(0, 8, 0, 192);
    bg.setColorAt(0, QColor(139, 18, 26));
    bg.setColorAt(1, QColor(198, 40, 40));
    QPainterPath board;
    board.addRoundedRect(QRectF(6, 6, 308, 188), 22, 22);
    g.fillPath(board, bg);
    g.setRenderHint(QPainter::Antialiasing, true);
    QRadialGradient glow(QPointF(250, 30), 160);
    glow.setColorAt(0, QColor(255, 255, 255, 60));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    g.setClipPath(board);
    g.fillRect(img.rect(), glow);
    g.setClipping(false);
    g.setPen(QPen(QColor(255, 205, 210, 160), 2));
    g.setBrush(Qt::NoBrush);
    g.drawRoundedRect(QRectF(12, 12, 296, 176), 18, 18);
    drawBird(g, QRectF(236, 14, 64, 40), QColor(40, 10, 14), QColor(92, 24, 32), QColor(255, 213, 79));
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(22);
    title.setBold(true);
    g.setFont(title);
    g.setPen(QColor(255, 236, 179));
    g.drawText(QRectF(30, 16, 200, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvadin"));
    drawPins(g, 30, 166, 8, 22, 12);
    // Two notches in the board's top edge, cut out by the colour key.
    g.setRenderHint(QPainter::Antialiasing, false);
    g.setPen(Qt::NoPen);
    g.setBrush(kKey);
    g.drawEllipse(QPointF(90, 6), 6, 6);
    g.drawEllipse(QPointF(150, 6), 6, 6);
    return img;
}

// The window's shape comes from the 1x picture, whole logical pixels at a time, and the
// 2x picture is painted inside it. So a 1x pixel is the colour key wherever any of its
// four 2x pixels is: no key colour of the 2x picture can show inside the shape.
QImage splashFromSharp(const QImage &sharp)
{
    QImage img = sharp.scaled(sharp.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
                if (QColor(sharp.pixel(2 * x + d.x(), 2 * y + d.y())) == kKey)
                    img.setPixel(x, y, kKey.rgb());
            }
        }
    }
    return img;
}

// The icon, drawn in a box of 128 x 128 units.
void drawIcon(QPainter &g)
{
    g.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient bg(0, 0, 0, 128);
    bg.setColorAt(0, QColor(198, 40, 40));
    bg.setColorAt(1, QColor(127, 16, 24));
    g.setPen(Qt::NoPen);
    g.setBrush(bg);
    g.drawRoundedRect(QRectF(6, 6, 116, 116), 24, 24);
    // A picture frame behind the bird.
    g.setBrush(QColor(255, 236, 179));
    g.drawRoundedRect(QRectF(22, 24, 84, 64), 6, 6);
    g.setBrush(QColor(255, 171, 145));
    QPainterPath hills;
    hills.moveTo(22, 88);
    hills.lineTo(50, 56);
    hills.lineTo(66, 72);
    hills.lineTo(80, 60);
    hills.lineTo(106, 88);
    hills.closeSubpath();
    g.drawPath(hills);
    g.setBrush(QColor(183, 28, 28));
    g.drawEllipse(QPointF(64, 24), 5, 5);
    drawBird(g, QRectF(20, 58, 92, 58), QColor(28, 8, 12), QColor(84, 20, 28), QColor(255, 213, 79));
}

QImage iconPicture(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter g(&img);
    g.scale(size / 128.0, size / 128.0);
    drawIcon(g);
    return img;
}

bool writeScalableIcon(const QString &file)
{
    QSvgGenerator svg;
    svg.setFileName(file);
    svg.setSize(QSize(128, 128));
    svg.setViewBox(QRect(0, 0, 128, 128));
    svg.setTitle(QStringLiteral("Corvadin"));
    QPainter g(&svg);
    drawIcon(g);
    return g.end();
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    const QString icons = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("icons");
    const QImage sharpSplash = splashPicture(2);
    bool ok = splashFromSharp(sharpSplash).save(dir + QStringLiteral("/splash.png")) &&
              sharpSplash.save(dir + QStringLiteral("/splash@2x.png")) &&
              iconPicture(128).save(dir + QStringLiteral("/corvadin.png"));
    // The installed icons carry the application's id as their name.
    const QString name = QStringLiteral("/apps/org.corvadin.Corvadin");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = icons + QStringLiteral("/hicolor/%1x%1").arg(size);
        ok = ok && QDir().mkpath(folder + QStringLiteral("/apps")) && iconPicture(size).save(folder + name + QStringLiteral(".png"));
    }
    const QString scalable = icons + QStringLiteral("/hicolor/scalable");
    ok = ok && QDir().mkpath(scalable + QStringLiteral("/apps")) && writeScalableIcon(scalable + name + QStringLiteral(".svg"));
    return ok ? 0 : 1;
}
