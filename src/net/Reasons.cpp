#include "net/Reasons.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

struct Reasons {
    Q_DECLARE_TR_FUNCTIONS(Reasons)
};

// The session's words, and the source text (Chinese) of what the window shows. The English
// translation of each is the session's word again.
struct Row {
    const char *reason;
    const char *text;
};

constexpr Row kRows[] = {
    {"timed out", QT_TRANSLATE_NOOP("Reasons", "超时")},
    {"too slow", QT_TRANSLATE_NOOP("Reasons", "传输过慢")},
    {"host not found", QT_TRANSLATE_NOOP("Reasons", "找不到主机")},
    {"connection refused", QT_TRANSLATE_NOOP("Reasons", "连接被拒绝")},
    {"connection reset", QT_TRANSLATE_NOOP("Reasons", "连接被重置")},
    {"truncated", QT_TRANSLATE_NOOP("Reasons", "传输中断")},
    {"too many redirects", QT_TRANSLATE_NOOP("Reasons", "重定向过多")},
    {"bad address", QT_TRANSLATE_NOOP("Reasons", "地址有误")},
    {"damaged compressed body", QT_TRANSLATE_NOOP("Reasons", "压缩数据损坏")},
    {"out of memory", QT_TRANSLATE_NOOP("Reasons", "内存不足")},
    {"unexpected error", QT_TRANSLATE_NOOP("Reasons", "意外错误")},
    {"not a picture (text/html)", QT_TRANSLATE_NOOP("Reasons", "不是图片（网站答复了网页）")},
    {"too small", QT_TRANSLATE_NOOP("Reasons", "文件过小")},
    {"too large", QT_TRANSLATE_NOOP("Reasons", "文件过大")},
    {"incomplete picture", QT_TRANSLATE_NOOP("Reasons", "图片不完整")},
    {"too short", QT_TRANSLATE_NOOP("Reasons", "网页不完整")},
    {"aborted", QT_TRANSLATE_NOOP("Reasons", "已中止")},
    {"stopped", QT_TRANSLATE_NOOP("Reasons", "已终止")},
    {"file not written", QT_TRANSLATE_NOOP("Reasons", "文件写入失败")},
    {"worker could not start", QT_TRANSLATE_NOOP("Reasons", "下载线程无法启动")},
};

} // namespace

QString ReasonText(const QString &reason)
{
    for (const Row &row : kRows) {
        if (reason == QLatin1String(row.reason))
            return Reasons::tr(row.text);
    }
    // "file not written: " + the system's words, which are already in the user's language.
    const QLatin1String notWritten("file not written: ");
    if (reason.startsWith(notWritten))
        return Reasons::tr("文件写入失败：%1").arg(reason.mid(notWritten.size()));
    // "HTTP 429 (asked to wait 3600 s)"; a plain "HTTP 404" reads the same in every language.
    // Never destroyed: a thread may still ask while the process exits.
    static const QRegularExpression &askedToWait =
        *new QRegularExpression(QStringLiteral("^HTTP (\\d+) \\(asked to wait (\\d+) s\\)$"));
    if (const QRegularExpressionMatch m = askedToWait.match(reason); m.hasMatch())
        return Reasons::tr("HTTP %1（网站要求等待 %2 秒）").arg(m.captured(1), m.captured(2));
    return reason;
}
