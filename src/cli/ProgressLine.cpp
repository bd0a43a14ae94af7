#include "cli/ProgressLine.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <unicode/uchar.h>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(ProgressLine)
};

constexpr int kAssumedColumns = 80;
constexpr int kBarMin = 10; // the bar's inside, without its brackets
constexpr int kBarMax = 50;

int codePointWidth(char32_t c)
{
    const int8_t type = u_charType(UChar32(c));
    if (c == 0 || type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_FORMAT_CHAR
        || type == U_CONTROL_CHAR)
        return 0;
    const int eaw = u_getIntPropertyValue(UChar32(c), UCHAR_EAST_ASIAN_WIDTH);
    return eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH ? 2 : 1;
}

// The usable width of a terminal line: one column short of the terminal's.
int usable(int columns)
{
    return std::max(1, (columns > 0 ? columns : kAssumedColumns) - 1);
}

QString clock(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

int DisplayWidth(const QString &text)
{
    int width = 0;
    for (char32_t c : text.toUcs4())
        width += codePointWidth(c);
    return width;
}

QString CutToWidth(const QString &text, int columns)
{
    int width = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        char32_t c = text.at(i).unicode();
        qsizetype units = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        const int w = codePointWidth(c);
        if (width + w > columns)
            break;
        width += w;
        i += units;
    }
    return text.left(i);
}

QString HumanBytes(double bytes)
{
    static const char *units[] = {"B", "KB", "MB", "GB"};
    int u = 0;
    while (bytes >= 1024 && u < 3) {
        bytes /= 1024;
        ++u;
    }
    return QString::number(bytes, 'f', u == 0 ? 0 : 1) + QLatin1Char(' ') + QLatin1String(units[u]);
}

QString FittedLine(const QString &text, int columns)
{
    return CutToWidth(text, usable(columns));
}

QString DownloadProgressLine(const ProgressFigures &f, int columns)
{
    const int limit = usable(columns);
    const quint32 done = std::min(f.done, f.total);
    QString phase = f.phase;
    const QString count = QStringLiteral("%1/%2").arg(done).arg(f.total);
    // Figures padded to their usual widths, so the bar keeps its length as they change.
    QString bytes = QStringLiteral("%1").arg(HumanBytes(double(f.bytes)), 8);
    QString rate = QStringLiteral("%1").arg(HumanBytes(f.bytesPerSecond) + QStringLiteral("/s"), 10);
    // The time left goes with the phase text, in the same language.
    QString left = Texts::tr("剩余 %1").arg(f.secondsLeft >= 0 ? clock(f.secondsLeft) : QStringLiteral("--:--"));

    auto tail = [&] {
        QStringList parts{count};
        for (const QString *p : {&bytes, &rate, &left})
            if (!p->isEmpty())
                parts << *p;
        return parts.join(QStringLiteral("  "));
    };
    // Columns left for the bar's inside with everything else in place.
    auto room = [&] {
        const int head = phase.isEmpty() ? 0 : DisplayWidth(phase) + 1;
        return limit - head - 2 - 1 - DisplayWidth(tail());
    };
    for (QString *drop : {&bytes, &rate, &left, &phase}) {
        if (room() >= kBarMin)
            break;
        drop->clear();
    }
    const int inside = std::min(kBarMax, room());
    QString line = phase.isEmpty() ? QString() : phase + QLatin1Char(' ');
    if (inside > 0) {
        const int filled = f.total > 0 ? int(qint64(inside) * done / f.total) : 0;
        line += QLatin1Char('[') + QString(filled, QLatin1Char('#')) + QString(inside - filled, QLatin1Char('-')) +
                QStringLiteral("] ");
    }
    return CutToWidth(line + tail(), limit);
}
