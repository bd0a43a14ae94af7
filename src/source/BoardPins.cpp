// Walking a board's pins page by page into named picture entries.
#include "source/ChangeSource.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "download/FileNaming.h"
#include "net/URLSource2.h"
#include "source/PageParsing.h"
#include "text/StringCtrl.h"

#include <QCoreApplication>
#include <QSet>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(BoardReading)
};

} // namespace

bool EnumeratePins(AppState &app, WindowServices &w, int albumIndex, const std::function<void()> &collected)
{
    const ST_PERLISTRECORD r = app.albums.at(albumIndex);
    SourceState &src = app.source;
    src.strCursor.clear();

    CUrlSession session;
    ST_URLREQUEST req(QString(), QString(), app.timings.pageTimeoutMs);
    app.ApplyRetryPolicy(req);
    req.minTextLength = 0;
    req.shouldAbort = [&app] { return app.DownState == 3 || app.bQuit; };

    // A board read over https keeps https for its pictures.
    const QString scheme = r.strUrl.startsWith(QStringLiteral("https://")) ? QStringLiteral("https://")
                                                                           : QStringLiteral("http://");
    // Cursors already asked for, and the first pin of every page read: a site whose
    // cursor never advances (or cycles) would otherwise be paged forever, and a page it
    // answers again would be collected twice.
    QSet<QString> askedCursors;
    QSet<QString> firstPins;

    for (int pages = 0;; ++pages) {
        QString text;
        if (pages == 0 && !src.strBoardPage.isEmpty()) {
            text = src.strBoardPage;
            src.strBoardPage.clear();
        } else {
            if (askedCursors.contains(src.strCursor))
                return true; // the site has nothing further to show

            askedCursors.insert(src.strCursor);
            req.url = r.strUrl + QStringLiteral("?hxzmqq2s&max=") + src.strCursor +
                      QStringLiteral("&limit=20&wfl=1");
            if (!session.Fetch(req))
                return false; // the pins after this page were never seen
            text = session.GetText(TEXT_UTF8);
            session.body.clear();
            if (text.isEmpty())
                return false;
        }

        const PinPage page = ParsePinPage(std::move(text), app.site.defaultImageHost, scheme);

        if (uint32_t(app.downloads.pinsMet()) >= r.nPicCount)
            return true;
        if (page.pieces.isEmpty())
            return true;
        for (const PinPiece &piece : page.pieces) {
            if (piece.cursor.isEmpty())
                continue;
            if (firstPins.contains(piece.cursor))
                return true; // this page was read before
            firstPins.insert(piece.cursor);
            break;
        }

        for (const PinPiece &piece : page.pieces) {
            // Set even when empty: a last piece without an id pages on with an empty cursor.
            src.strCursor = piece.cursor;
            if (piece.cursor.isEmpty())
                continue;
            AddPicture(app, w, page.AddressOf(piece), piece.description, QString(), albumIndex);
            if (collected)
                collected();
            const uint8_t state = app.DownState;
            if (state == 3)
                return false;
            if (state == 2)
                return true; // the earlier mark: the rest was done before
            if (uint32_t(app.downloads.pinsMet()) >= r.nPicCount)
                return true;
            if (app.downloads.addresses.size() >= app.maxPicturesPerAlbum) {
                w.ShowMessage(Texts::tr("相册“%1”的图片超过%2张，其余的图片不再获取")
                                  .arg(r.strName, QString::number(app.maxPicturesPerAlbum)));
                return false;
            }
        }
    }
}
