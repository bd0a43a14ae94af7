#include "ui/SiteModes.h"

#include "settings/SoftData.h"
#include "core/SiteConfig.h"

#include <QCoreApplication>

#include <array>

namespace {

// The site list's names, translated where they are shown.
const std::array<const char *, 24> MODE_NAMES = {
    QT_TRANSLATE_NOOP("SiteModes", "QQ相册"), QT_TRANSLATE_NOOP("SiteModes", "百度相册"), QT_TRANSLATE_NOOP("SiteModes", "网易相册"), QT_TRANSLATE_NOOP("SiteModes", "人人相册"),
    QT_TRANSLATE_NOOP("SiteModes", "新浪相册"), QT_TRANSLATE_NOOP("SiteModes", "56相册"), QT_TRANSLATE_NOOP("SiteModes", "POCO相册"), QT_TRANSLATE_NOOP("SiteModes", "又拍相册"),
    QT_TRANSLATE_NOOP("SiteModes", "51相册"), QT_TRANSLATE_NOOP("SiteModes", "ZOL相册"), QT_TRANSLATE_NOOP("SiteModes", "PCHome相册"), QT_TRANSLATE_NOOP("SiteModes", "淘宝/天猫"),
    QT_TRANSLATE_NOOP("SiteModes", "美空相册"), QT_TRANSLATE_NOOP("SiteModes", "宝宝树相册"), QT_TRANSLATE_NOOP("SiteModes", "太平洋相册"), QT_TRANSLATE_NOOP("SiteModes", "虎扑相册"),
    QT_TRANSLATE_NOOP("SiteModes", "京东商品"), QT_TRANSLATE_NOOP("SiteModes", "Instagram"), QT_TRANSLATE_NOOP("SiteModes", "画板"), QT_TRANSLATE_NOOP("SiteModes", "预留模式19"),
    QT_TRANSLATE_NOOP("SiteModes", "预留模式20"), QT_TRANSLATE_NOOP("SiteModes", "预留模式21"), QT_TRANSLATE_NOOP("SiteModes", "预留模式22"), QT_TRANSLATE_NOOP("SiteModes", "预留模式23"),
};

struct SiteRow {
    const char *pattern; // nullptr: the board site, whose host is configured
    int mode;
};

// Rows 1..22. The first matching row wins, so the order matters.
const std::array<SiteRow, SiteModes::TABLE_ROWS> SITE_ROWS = {{
    {"qq.com/", 0},          // QQ Zone, QQ groups, Tencent Weibo
    {"baidu.com/", 1},
    {"163.com/", 2},         // NetEase
    {"renren.com/", 3},
    {"sina.com.cn", 4},
    {"weibo.com/", 4},       // Sina Weibo
    {"56.com/", 5},
    {"poco.cn/", 6},
    {"yupoo.com/", 7},
    {"51.com/", 8},
    {"zol.com.cn/", 9},
    {"pchome.net/", 10},
    {"taobao.com/", 11},
    {"tmall.com/", 11},
    {"1688.com", 11},
    {"moko.cc/", 12},
    {"babytree.com/", 13},
    {"pconline.com.cn", 14},
    {"hupu.com/", 15},
    {"jd.com/", 16},
    {"instagram.com/", 17},
    {nullptr, SITE_MODE_BOARD},
}};

struct LoginEntry {
    int id;
    const char *page; // nullptr: the product page
};

const LoginEntry LOGIN_PAGES[] = {
    {32781, "https://user.qzone.qq.com/"}, // a QQ number may be appended
    {32782, "https://t.qq.com/"},
    {32789, "https://passport.baidu.com/"},
    {32790, "https://reg.163.com/"},
    {32791, "https://www.renren.com/"},
    {32792, "https://www.yupoo.com/login/"},
    {32793, "https://www.moko.cc/login.html?go=https://www.moko.cc/"},
    {32794, "https://weibo.com/"},
    {32803, "https://login.taobao.com/member/login.jhtml"},
    {32813, "https://user.56.com/"},
    {32815, "https://passport.hupu.com/"},
    {32795, nullptr},
};

bool OccursAfterStart(const QString &address, const QString &pattern)
{
    return !pattern.isEmpty() && address.indexOf(pattern, 1) >= 0;
}

} // namespace

namespace SiteModes {

QString ModeName(int mode)
{
    if (mode < 0 || mode >= int(MODE_NAMES.size()))
        return {};
    return QCoreApplication::translate("SiteModes", MODE_NAMES[mode]);
}

QStringList ModeNames()
{
    QStringList names;
    for (const char *name : MODE_NAMES)
        names << QCoreApplication::translate("SiteModes", name);
    return names;
}

int RowMode(int row)
{
    if (row < 1 || row > TABLE_ROWS)
        return -1;
    return SITE_ROWS[row - 1].mode;
}

QString RowPattern(int row, const QString &boardSiteHost)
{
    if (row < 1 || row > TABLE_ROWS)
        return {};
    const SiteRow &r = SITE_ROWS[row - 1];
    if (r.pattern)
        return QString::fromLatin1(r.pattern);
    // Without a configured host the row would be "/" and match every address.
    return boardSiteHost.isEmpty() ? QString() : boardSiteHost + QLatin1Char('/');
}

QStringList AlbumKindNames()
{
    return {QCoreApplication::translate("SiteModes", "QQ空间相册"), QCoreApplication::translate("SiteModes", "QQ群相册"),
            QCoreApplication::translate("SiteModes", "腾讯微博相册")};
}

QString LoginPage(int commandId, const QString &siteHomePage)
{
    for (const LoginEntry &entry : LOGIN_PAGES) {
        if (entry.id == commandId)
            return entry.page ? QString::fromLatin1(entry.page) : siteHomePage;
    }
    return {};
}

} // namespace SiteModes

int ClassifySiteMode(const QString &address, int currentMode, const QString &boardSiteHost, int *albumKind)
{
    if (!address.contains(QLatin1String("http://")) && !address.contains(QLatin1String("https://")))
        return currentMode;

    int mode = currentMode;
    for (int row = 1; row <= SiteModes::TABLE_ROWS; ++row) {
        if (OccursAfterStart(address, SiteModes::RowPattern(row, boardSiteHost))) {
            mode = SiteModes::RowMode(row);
            break;
        }
    }

    if (mode == 0 && albumKind) {
        if (OccursAfterStart(address, QLatin1String(SiteModes::QQ_WEIBO_PATTERN)))
            *albumKind = 2;
        else if (OccursAfterStart(address, QLatin1String(SiteModes::QQ_GROUP_PATTERN)))
            *albumKind = 1;
        else
            *albumKind = 0;
    }
    return mode;
}
