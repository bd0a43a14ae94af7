// Reading a board's page into the album list, and the rows of the album view.
#include "source/ChangeSource.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "download/FileNaming.h"
#include "net/URLSource2.h"
#include "source/PageParsing.h"
#include "text/StringCtrl.h"

#include <QCoreApplication>
#include <QDir>
#include <new>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(BoardReading)
};

// The board prefix the address uses: "http://" + SITE_HOST + "/boards/", or the https
// form (a board read over https keeps https). Empty when neither is in the address.
QString boardPrefixOf(const AppState &app, const QString &address)
{
    const QString plain = app.site.BoardPrefix();
    if (address.contains(plain))
        return plain;
    const QString secure = QStringLiteral("https://") + plain.mid(7);
    if (address.contains(secure))
        return secure;
    return {};
}

QString flagsText(uint32_t flags)
{
    if (flags == 0)
        return {};
    if (flags & 0x80000000u)
        return QStringLiteral("%1").arg(flags & 0x7FFFFFFFu, 8, 10, QLatin1Char('0'));
    if (flags & 1)
        return Texts::tr("加密相册");
    if (flags & 2)
        return Texts::tr("私密相册");
    if (flags & 4)
        return Texts::tr("好友可见");
    return {};
}

} // namespace

void RetrieveAlbumList(AppState &app, WindowServices &w)
{
    app.source.siteMode = SITE_MODE_BOARD;
    app.source.strUserFolder.clear();

    const QString address = TrimWide(w.AddressText());
    if (address.isEmpty()) {
        w.ShowMessage(SiteTexts::AddressMissing());
        app.ListState = 0;
        return;
    }

    // Only the list command turns 1 into 2: a stop requested before the thread got here
    // stays requested.
    SetUnlessStopped(app.ListState, 1, 2);
    w.ShowListRunning();

    ListOutcome outcome;
    if (!address.contains(QStringLiteral("http://")) && !address.contains(QStringLiteral("https://"))) {
        w.ShowMessage(SiteTexts::AddressMissing());
        outcome.kind = ListOutcome::Kind::NotAnAddress;
    } else if (address.contains(QStringLiteral("/boards/"))) {
        outcome = ReadBoardPage(app, w, address);
    } else {
        w.ShowMessage(SiteTexts::BoardAddressHint(app.site.siteHost).replace(QLatin1Char('^'), QLatin1Char('\n')));
        outcome.kind = ListOutcome::Kind::NotABoardAddress;
    }

    NormaliseOwnerFolder(app.source.strUserFolder);

    w.GridRefresh();
    const int n = app.albums.count();
    w.SetAlbumFrameCaption(Texts::tr("相册列表(共%1个)").arg(n));
    // Only a board that was read reads as done; any other ending the front end words.
    if (outcome.kind == ListOutcome::Kind::Read)
        w.SetPhaseText(Texts::tr("获取相册列表完成，共%n个", nullptr, n), ReportKind::ListDone);

    app.ListState = 0;
    w.ShowListIdle(n);
    w.ListFinished(outcome);

    if (n >= 1 && outcome.kind == ListOutcome::Kind::Read) {
        const QString again = TrimWide(w.AddressText());
        if (app.RememberAndSave(app.settings.AddressHistory, again))
            w.AppendAddressItem(again);
        w.GridSelectAll();
        w.StartDownloadRun();
    }
}

ListOutcome ReadBoardPage(AppState &app, WindowServices &w, const QString &address)
{
    app.source.strBoardPage.clear();
    ListOutcome outcome;
    const auto stopRequested = [&app] { return app.ListState == 2 || app.bQuit; };

    const QString prefix = boardPrefixOf(app, address);
    if (prefix.isEmpty()) {
        outcome.kind = ListOutcome::Kind::OtherSite;
        outcome.site = app.site.siteHost;
        return outcome;
    }

    ST_URLREQUEST req(QString(), QString(), app.timings.pageTimeoutMs);
    req.attempts = app.timings.boardAttempts;
    req.retryDelaySeconds = app.timings.boardRetryDelaySeconds;
    app.ApplyPacing(req);
    req.minTextLength = 100;
    req.shouldAbort = stopRequested;
    req.url = address;
    CutBefore(req.url, QStringLiteral("?"));

    CUrlSession session;
    const bool fetched = session.Fetch(req);
    if (stopRequested()) {
        outcome.kind = ListOutcome::Kind::Stopped;
        return outcome;
    }
    if (!fetched) {
        if (session.statusCode >= 400) {
            outcome.kind = ListOutcome::Kind::HttpError;
            outcome.status = session.statusCode;
        } else if (session.errorText == QLatin1String("timed out")) {
            outcome.kind = ListOutcome::Kind::TimedOut;
        } else if (session.errorText == QLatin1String("too short")) {
            outcome.kind = ListOutcome::Kind::NotABoardPage; // 100 bytes hold no board
        } else {
            outcome.kind = ListOutcome::Kind::NetworkError;
            outcome.detail = session.errorText;
        }
        return outcome;
    }

    // The page stays whole for the pin enumeration: it already holds the first pins.
    const QString page = session.GetText(TEXT_UTF8);
    const BoardPageValues values = ParseBoardPage(page);
    // Without a board id the album would have no address to page through.
    if (values.boardId.isEmpty()) {
        outcome.kind = ListOutcome::Kind::NotABoardPage;
        return outcome;
    }

    ST_PERLISTRECORD record;
    record.strName = values.name;
    record.strUrl = prefix + values.boardId + QLatin1Char('/');
    record.nPicCount = values.pinCount;
    // A board names no cover: its first pin's picture stands in for one. The page holds
    // the first pins, so this costs no request.
    const QString scheme = prefix.left(prefix.indexOf(QLatin1String("://")) + 3);
    const PinPage pins = ParsePinPage(page, app.site.defaultImageHost, scheme);
    for (const PinPiece &piece : pins.pieces) {
        if (!piece.cursor.isEmpty()) {
            record.strCoverUrl = pins.AddressOf(piece);
            break;
        }
    }

    app.source.strUserFolder = values.owner;
    CleanName(app.source.strUserFolder, true);

    if (app.ready == 1) {
        try {
            const uint32_t n = AddAlbumRecord(app.albums, record);
            AddAlbumRow(app, w, int(n) - 1);
        } catch (const std::bad_alloc &) {
            w.ShowMessage(Texts::tr("内存分配失败"));
        }
    }

    app.source.strBoardPage = page;
    return outcome;
}

void NormaliseOwnerFolder(QString &owner)
{
    CleanName(owner, false);
    owner.replace(QLatin1Char('/'), QDir::separator());
    // One folder level like the album folder: a long or reserved name would make the
    // whole run fail to create its base folder.
    owner = FitFolderLevel(owner);
    if (!owner.isEmpty() && !owner.endsWith(QDir::separator()))
        owner += QDir::separator();
}

uint32_t AddAlbumRecord(AlbumList &list, const ST_PERLISTRECORD &record)
{
    ST_PERLISTRECORD copy = record;
    copy.nImage = -1;
    copy.nIndex = list.count();
    CleanName(copy.strName, true);
    if (list.containsName(copy.strName)) {
        const QString base = copy.strName;
        for (uint32_t k = 1;; ++k) {
            const QString candidate = base + QStringLiteral(" (") + QString::number(k) + QLatin1Char(')');
            if (!list.containsName(candidate)) {
                copy.strName = candidate;
                break;
            }
        }
    }
    return list.append(copy);
}

void AddAlbumRow(AppState &app, WindowServices &w, int albumIndex)
{
    ST_PERLISTRECORD r = app.albums.at(albumIndex);
    if (r.strName.size() > 80) {
        int cut = 80;
        if (r.strName[cut - 1].isHighSurrogate())
            --cut; // never keep half a character
        r.strName.truncate(cut);
        app.albums.setName(albumIndex, r.strName);
    }

    if (app.bThumbMode == 0) {
        if (!app.strFilter.isEmpty() && !r.strName.contains(app.strFilter))
            return;
        const int row = w.GridAppendRow();
        w.GridSetCell(row, 0, QStringLiteral("%1").arg(row, 4, 10, QLatin1Char('0')), albumIndex);
        w.GridSetCell(row, 1, r.strName);
        w.GridSetCell(row, 2,
                      r.nPicCount == PICCOUNT_UNKNOWN ? Texts::tr("未知")
                                                      : QStringLiteral("%1").arg(r.nPicCount, 4));
        w.GridSetCell(row, 3, flagsText(r.nFlags));
        w.GridSetCell(row, 4, QString());
        w.GridSetCell(row, 5, QString());
        return;
    }

    const int perRow = app.thumbsPerRow > 0 ? app.thumbsPerRow : 6;
    const int col = albumIndex % perRow;
    const int row = albumIndex / perRow;
    if (col == 0)
        w.GridAppendRow(app.thumbHeight + 10);

    if (r.nImage == -1 && !r.strCoverUrl.isEmpty()) {
        const QString tmp = app.profile.thumbnailFolder();
        if (albumIndex == 0)
            QDir().mkpath(tmp);
        const QString file = tmp + QStringLiteral("%1.jpg").arg(albumIndex);
        ST_URLREQUEST req(r.strCoverUrl, file, app.timings.pageTimeoutMs);
        req.shouldAbort = [&app] { return app.bQuit.load() || app.ConvertState == 2; };
        app.ApplyPacing(req);
        CUrlSession session;
        if (session.Fetch(req) && session.savedToFile) {
            const int image = w.AddThumbnail(file);
            if (image >= 0) {
                r.nImage = image;
                app.albums.setImage(albumIndex, image);
            }
        }
    }
    w.GridSetCell(row, col, QString::number(albumIndex + 1) + QLatin1Char('.') + r.strName, albumIndex, r.nImage);
}

void RebuildAlbumRows(AppState &app, WindowServices &w)
{
    const int n = app.albums.count();
    for (int i = 0; i < n && app.ConvertState != 2; ++i)
        AddAlbumRow(app, w, i);
    w.GridRefresh();
    app.ConvertState = 0;
    app.strFilter.clear();
}
