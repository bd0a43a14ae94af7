// Shared pieces of the fuzz targets: invariant checks that stop the run (libFuzzer keeps
// the input as a crash), texts drawn from the input, and the rules a made name must
// keep, written here independently of the code under test.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

// Checks an invariant; on failure prints it (and the text concerned) and aborts.
#define FUZZ_CHECK(cond) FUZZ_CHECK_TEXT(cond, QString())
#define FUZZ_CHECK_TEXT(cond, text)                                                         \
    do {                                                                                    \
        if (!(cond)) {                                                                      \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n  text: %s\n", #cond,       \
                         __FILE__, __LINE__, qUtf8Printable(fuzz::Visible(text)));          \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

namespace fuzz {

// The text with every unit outside printable ASCII shown as \uXXXX.
inline QString Visible(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

// A text of at most maxUnits UTF-16 units. One input byte chooses how the rest are read:
// as UTF-8 (what pages give after decoding: always well-formed) or as raw UTF-16 units
// (what soft.dat fields may hold: lone surrogates, NULs, controls).
inline QString TakeText(FuzzedDataProvider &p, size_t maxUnits)
{
    const bool raw = p.ConsumeBool();
    if (raw) {
        const size_t n = p.ConsumeIntegralInRange<size_t>(0, maxUnits);
        QString text;
        text.reserve(qsizetype(n));
        for (size_t i = 0; i < n && p.remaining_bytes() > 0; ++i)
            text.append(QChar(p.ConsumeIntegral<char16_t>()));
        return text;
    }
    const std::string bytes = p.ConsumeRandomLengthString(maxUnits);
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).left(qsizetype(maxUnits));
}

// No lone surrogate.
inline bool WellFormed(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return false;
            ++i;
        } else if (c.isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// UTF-8 bytes the name takes on a POSIX file system.
inline qsizetype Utf8Size(const QString &text)
{
    return text.toUtf8().size();
}

// Names Windows maps to devices, whatever follows the first "." and in any case.
inline bool IsWindowsReserved(const QString &name)
{
    QString stem = name.section(QLatin1Char('.'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList devices = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                        QStringLiteral("AUX"), QStringLiteral("NUL"),
                                        QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (devices.contains(stem))
        return true;
    if (stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const QChar d = stem.at(3);
        return (d >= u'0' && d <= u'9') || d == u'\u00B9' || d == u'\u00B2' || d == u'\u00B3';
    }
    return false;
}

// One level of a path: what a file or folder name must be to stay where it is put.
inline bool IsSafeName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && !name.contains(QChar(0)) && WellFormed(name) && Utf8Size(name) <= 255
        && !IsWindowsReserved(name);
}

// Characters CleanFileName removes (tab becomes "_").
inline bool HoldsRemovedCharacter(const QString &name)
{
    for (const QChar c : name) {
        switch (c.unicode()) {
        case u'\r': case u'\n': case u'\\': case u'/': case u':': case u'*':
        case u'?': case u'"': case u'<': case u'>': case u'|': case u'\a': case u'\t':
            return true;
        default:
            break;
        }
    }
    return false;
}

// A JSON string value as the reference reads it, written independently of the readers:
// the body after a marker up to the first quote no backslash escapes (a regular
// expression), decoded by Qt's JSON parser with lone surrogates made U+FFFD.
struct JsonReference {
    bool closed = false;    // a closing quote was found
    QString raw;            // the body as written
    QString value;          // decoded; only when checkable
    bool checkable = false; // the body holds only JSON escapes and no control character,
                            // where the parser's own leniency cannot differ
};

// Cuts `rest` to what follows the marker (left as it was without one) and reads the
// value there.
inline JsonReference JsonValueAfter(QString &rest, const QString &marker)
{
    JsonReference ref;
    const qsizetype at = rest.indexOf(marker);
    if (at < 0)
        return ref;
    rest.remove(0, at + marker.size());
    static const QRegularExpression body(QStringLiteral(R"re(^((?:[^"\\]|\\[\s\S])*)")re"));
    const QRegularExpressionMatch m = body.match(rest);
    if (!m.hasMatch())
        return ref;
    ref.closed = true;
    ref.raw = m.captured(1);
    static const QRegularExpression strict(
        QStringLiteral(R"re(^(?:[^\\\x00-\x1f]|\\(?:["\\/bfnrt]|u[0-9a-fA-F]{4}))*$)re"));
    if (!strict.match(ref.raw).hasMatch())
        return ref;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson("[\"" + ref.raw.toUtf8() + "\"]", &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return ref;
    const QString parsed = doc.array().at(0).toString();
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        const QChar c = parsed.at(i);
        if (c.isHighSurrogate() && i + 1 < parsed.size() && parsed.at(i + 1).isLowSurrogate()) {
            ref.value += c;
            ref.value += parsed.at(++i);
        } else {
            ref.value += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    ref.checkable = true;
    return ref;
}

// The value a reader gives agrees with the reference: equal where the reference can
// tell, never longer than the body, empty without a closing quote.
inline bool AgreesWith(const QString &value, const JsonReference &ref)
{
    if (!ref.closed)
        return value.isEmpty();
    if (ref.checkable)
        return value == ref.value;
    return value.size() <= ref.raw.size();
}

// A folder in the system's temporary folder, made once per process and removed at exit.
// Ends in a separator.
inline QString SandboxFolder()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvadin-fuzz-XXXXXX"));
    return QDir::toNativeSeparators(dir.path()) + QDir::separator();
}

} // namespace fuzz
