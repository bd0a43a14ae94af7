// Walking a board's pins page by page into named picture entries.
#include "source/ChangeSource.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "download/FileNaming.h"
#include "net/URLSource2.h"
#include "text/StringCtrl.h"

#include <QSet>

void EnumeratePins(AppState &app, WindowServices &w, int albumIndex)
{
    const ST_PERLISTRECORD r = app.albums.at(albumIndex);
    SourceState &src = app.source;
    src.strCursor.clear();

    CUrlSession session;
    ST_URLREQUEST req(QString(), QString(), app.timings.pageTimeoutMs);
    req.headers = QStringLiteral("Accept-Encoding: gzip, deflate\r\n");
    req.attempts = 1;
    req.minTextLength = 0;
    req.shouldAbort = [&app] { return app.DownState == 3 || app.bQuit; };

    // A board read over https keeps https for its pictures.
    const QString scheme = r.strUrl.startsWith(QStringLiteral("https://")) ? QStringLiteral("https://")
                                                                           : QStringLiteral("http://");
    // Cursors already asked for: a site whose cursor never advances (or cycles) would
    // otherwise be paged forever.
    QSet<QString> askedCursors;

    for (int pages = 0;; ++pages) {
        QString text;
        if (pages == 0 && !src.strBoardPage.isEmpty()) {
            text = src.strBoardPage;
            src.strBoardPage.clear();
        } else {
            if (askedCursors.contains(src.strCursor))
                return;
            askedCursors.insert(src.strCursor);
            req.url = r.strUrl + QStringLiteral("?hxzmqq2s&max=") + src.strCursor +
                      QStringLiteral("&limit=20&wfl=1");
            if (!session.Fetch(req, 0))
                return;
            text = session.GetText(TEXT_INFLATE | TEXT_UTF8);
            session.body.clear();
            if (text.isEmpty())
                return;
        }

        const QString named = ExtractBetween(text, QStringLiteral("hbimg\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
        const QString imageHost = named.isEmpty() ? app.site.defaultImageHost : named;

        CutThrough(text, QStringLiteral("\"pins\""), true);

        if (uint32_t(app.downloads.addresses.size()) >= r.nPicCount)
            return;

        QStringList pieces;
        const int separators = SplitText(text, QStringLiteral("\"pin_id"), pieces);
        text.clear();
        if (separators < 1)
            return;

        for (int k = 1; k <= separators; ++k) {
            QString piece = pieces[k];
            src.strCursor = ExtractBetween(piece, QStringLiteral(":"), QStringLiteral(","), EXTRACT_CONSUME);
            if (src.strCursor.isEmpty())
                continue;
            const QString key = ExtractBetween(piece, QStringLiteral("key\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
            const QString address = scheme + imageHost + QLatin1Char('/') + key;
            const QString description =
                ExtractBetween(piece, QStringLiteral("raw_text\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
            AddPicture(app, w, address, description, QString(), albumIndex);
            const uint8_t state = app.DownState;
            if (state == 3 || state == 2)
                return;
            if (uint32_t(app.downloads.addresses.size()) >= r.nPicCount)
                return;
        }
    }
}
