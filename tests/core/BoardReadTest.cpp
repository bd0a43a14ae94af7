// Reading a board address into the album list, against the local board site.
#include "CoreFixture.h"

#include "source/ChangeSource.h"
#include "text/StringCtrl.h"

#include <QRegularExpression>

namespace {

bool isDateTime(const QString &s)
{
    static const QRegularExpression re(QStringLiteral("^\\d{14}$"));
    return re.match(s).hasMatch();
}

BoardSite::Board rawBoard(const QString &id, const QByteArray &page)
{
    BoardSite::Board b;
    b.id = id;
    b.rawPage = page;
    return b;
}

class BoardRead : public CoreFixture {
protected:
    void SetUp() override
    {
        CoreFixture::SetUp();
        w->startRuns = false; // these tests look at the retrieval alone
    }
    void retrieve(const QString &address)
    {
        w->address = address;
        RetrieveAlbumList(*app, *w);
    }
};

} // namespace

TEST_F(BoardRead, ReadsTheBoardAndStartsARun)
{
    retrieve(QStringLiteral("  ") + site.boardUrl(QStringLiteral("1001")) + QStringLiteral("?from=x  "));

    ASSERT_EQ(app->albums.count(), 1);
    const ST_PERLISTRECORD r = app->albums.at(0);
    EXPECT_EQ(r.strName, QStringLiteral("演示相册"));
    EXPECT_EQ(r.strUrl, site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(r.nPicCount, 45u);
    EXPECT_EQ(r.nIndex, 0);
    EXPECT_EQ(r.nImage, -1);
    // A board names no cover: its first pin's picture stands in.
    EXPECT_EQ(r.strCoverUrl, site.pictureUrl(site.board(QStringLiteral("1001")).pins[0].key));
    EXPECT_EQ(app->source.strUserFolder, QStringLiteral("demo") + QDir::separator());
    EXPECT_FALSE(app->source.strBoardPage.isEmpty()); // kept: it holds the first pins

    // The page was asked for without the query part.
    const auto requests = site.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].target, QStringLiteral("/boards/1001/"));

    const auto rows = w->Rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].text[0], QStringLiteral("0001"));
    EXPECT_EQ(rows[0].data[0], 0);
    EXPECT_EQ(rows[0].text[1], QStringLiteral("演示相册"));
    EXPECT_EQ(rows[0].text[2], QStringLiteral("  45"));
    EXPECT_EQ(rows[0].text[3], QString());

    EXPECT_EQ(w->Events(), (QStringList{QStringLiteral("ShowListRunning"), QStringLiteral("ShowListIdle 1")}));
    EXPECT_EQ(w->captions, QStringList{QStringLiteral("相册列表(共1个)")});
    EXPECT_EQ(w->LastPhase(), QStringLiteral("获取相册列表完成，共1个"));
    EXPECT_EQ(app->ListState, 0);
    EXPECT_EQ(w->selectAll, 1);
    EXPECT_EQ(w->downloadStarts, 1);
    EXPECT_TRUE(w->Messages().isEmpty());

    // The trimmed address went into the history, the box and soft.dat.
    EXPECT_EQ(FieldText(app->settings.AddressHistory[0]), site.boardUrl(QStringLiteral("1001")) + QStringLiteral("?from=x"));
    EXPECT_EQ(w->addressItems.size(), 1);
    ST_SOFTDATA stored{};
    LoadSettings(stored, app->profile.configFolder());
    EXPECT_EQ(FieldText(stored.AddressHistory[0]), FieldText(app->settings.AddressHistory[0]));
}

TEST_F(BoardRead, AddressHistoryIgnoresCaseAndKeepsItsOrder)
{
    const QString address = site.boardUrl(QStringLiteral("1001"));
    {
        std::lock_guard lock(app->settingsMutex);
        SetFieldText(app->settings.AddressHistory[0], QStringLiteral("http://other/"));
        SetFieldText(app->settings.AddressHistory[1], address.toUpper().replace(QStringLiteral("HTTP://"), QStringLiteral("http://")));
    }
    retrieve(address);
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_EQ(FieldText(app->settings.AddressHistory[0]), QStringLiteral("http://other/"));
    EXPECT_TRUE(w->addressItems.isEmpty());
}

TEST_F(BoardRead, NamesThatCleanToNothingGetTheDateAndTime)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("77"), QStringLiteral("?/:*"), QStringLiteral("<|>"), 3, 5);
    site.addBoard(b);
    retrieve(site.boardUrl(QStringLiteral("77")));
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_TRUE(isDateTime(app->albums.at(0).strName)) << app->albums.at(0).strName.toStdString();
    QString owner = app->source.strUserFolder;
    ASSERT_TRUE(owner.endsWith(QDir::separator()));
    owner.chop(1);
    EXPECT_TRUE(isDateTime(owner)) << owner.toStdString();
}

TEST_F(BoardRead, NamesOfDotsBehindRemovedCharactersStayOneLevel)
{
    // "? .. ?" cleans to ".." without the final dots rule: the run would save into the
    // save folder's parent.
    site.addBoard(BoardSite::makeBoard(QStringLiteral("78"), QStringLiteral("? .. ?"), QStringLiteral("? .. ?"), 1, 5));
    retrieve(site.boardUrl(QStringLiteral("78")));
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_EQ(app->albums.at(0).strName, QStringLiteral("\u3002\u3002"));
    EXPECT_EQ(app->source.strUserFolder, QStringLiteral("\u3002\u3002") + QDir::separator());
}

TEST_F(BoardRead, TitleAndUserNameAreReadWholeAndDecoded)
{
    const QByteArray page = "app.page[\"board\"] = {\"board_id\":58,\"title\":\"Say \\\"cheese\\\" \\u76f8\\u518c\\ud83d\\ude00\","
                            "\"pin_count\":3,\"user\":{\"username\":\"a\\/b \\\"c\\\" \\u0000d\"}}" + QByteArray(100, ' ');
    site.addBoard(rawBoard(QStringLiteral("58"), page));
    retrieve(site.boardUrl(QStringLiteral("58")));
    ASSERT_EQ(app->albums.count(), 1);
    // Decoded, then cleaned as ever: quotes and slashes go, a NUL never reaches a folder name.
    EXPECT_EQ(app->albums.at(0).strName, QStringLiteral("Say cheese 相册\U0001F600"));
    EXPECT_EQ(app->source.strUserFolder, QStringLiteral("ab c d") + QDir::separator());
}

TEST_F(BoardRead, LongNamesAreCutTo80Characters)
{
    const QString name = QString(81, QLatin1Char('n'));
    site.addBoard(BoardSite::makeBoard(QStringLiteral("81"), name, QStringLiteral("u"), 1, 1));
    retrieve(site.boardUrl(QStringLiteral("81")));
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_EQ(app->albums.at(0).strName, name.left(80));
    EXPECT_EQ(w->Rows().value(0).text[1], name.left(80));
}

TEST_F(BoardRead, APageWithoutItsStartMarkerIsSearchedFromTheBeginning)
{
    QByteArray page = "<html>" + QByteArray(120, ' ') +
                      "{\"board_id\":55,\"title\":\"Bare\",\"pin_count\":7,\"user\":{\"username\":\"bob\"}}</html>";
    site.addBoard(rawBoard(QStringLiteral("55"), page));
    retrieve(site.boardUrl(QStringLiteral("55")));
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_EQ(app->albums.at(0).strName, QStringLiteral("Bare"));
    EXPECT_EQ(app->albums.at(0).nPicCount, 7u);
    EXPECT_EQ(app->albums.at(0).strUrl, site.boardUrl(QStringLiteral("55")));
    EXPECT_EQ(app->source.strUserFolder, QStringLiteral("bob") + QDir::separator());
}

TEST_F(BoardRead, MissingMarkersGiveEmptyValuesButARecord)
{
    site.addBoard(rawBoard(QStringLiteral("56"), "app.page[\"board\"] = {\"board_id\":56,}" + QByteArray(200, 'x')));
    retrieve(site.boardUrl(QStringLiteral("56")));
    ASSERT_EQ(app->albums.count(), 1);
    const ST_PERLISTRECORD r = app->albums.at(0);
    EXPECT_TRUE(isDateTime(r.strName));
    EXPECT_EQ(r.nPicCount, 0u);
    EXPECT_EQ(r.strUrl, site.boardUrl(QStringLiteral("56")));
    ASSERT_EQ(w->Outcomes().size(), 1);
    EXPECT_EQ(w->Outcomes()[0].kind, ListOutcome::Kind::Read);
}

TEST_F(BoardRead, APageOf100BytesIsRefetchedAndFails)
{
    app->timings.boardAttempts = 3;
    site.addBoard(rawBoard(QStringLiteral("57"), QByteArray(100, 'x')));
    retrieve(site.boardUrl(QStringLiteral("57")));
    EXPECT_EQ(app->albums.count(), 0);
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/57/")), 3);
    EXPECT_EQ(w->captions, QStringList{QStringLiteral("相册列表(共0个)")});
}

TEST_F(BoardRead, TheFailureTableSaysHowEachRetrievalEnded)
{
    using Kind = ListOutcome::Kind;
    BoardSite::Board locked = BoardSite::makeBoard(QStringLiteral("60"), QStringLiteral("Locked"), QStringLiteral("u"), 3, 1);
    locked.loginRequired = true;
    site.addBoard(locked);
    site.addBoard(rawBoard(QStringLiteral("61"), "<html>" + QByteArray(200, 'x') + "</html>"));
    site.addBoard(rawBoard(QStringLiteral("62"), QByteArray(100, 'x')));

    struct Case {
        const char *what;
        QString address;
        QString message; // expected message, empty: none
        bool running;    // whether the running look was shown (and an outcome given)
        Kind kind;
        int status;
        QString detail;
    };
    const QString hint = SiteTexts::BoardAddressHint(site.hostPort()).replace(QLatin1Char('^'), QLatin1Char('\n'));
    const QList<Case> cases = {
        {"empty address", QStringLiteral("   "), SiteTexts::AddressMissing(), false, Kind::Read, 0, {}},
        {"no http", QStringLiteral("ftp://x/boards/1/"), SiteTexts::AddressMissing(), true, Kind::NotAnAddress, 0, {}},
        {"no boards", site.baseUrl() + QStringLiteral("/pins/1/"), hint, true, Kind::NotABoardAddress, 0, {}},
        {"another host", QStringLiteral("http://elsewhere.invalid/boards/1001/"), QString(), true, Kind::OtherSite, 0, {}},
        {"unknown board", site.boardUrl(QStringLiteral("999")), QString(), true, Kind::HttpError, 404, {}},
        {"login required", site.boardUrl(QStringLiteral("60")), QString(), true, Kind::HttpError, 403, {}},
        {"page without a board id", site.boardUrl(QStringLiteral("61")), QString(), true, Kind::NotABoardPage, 0, {}},
        {"page of 100 bytes", site.boardUrl(QStringLiteral("62")), QString(), true, Kind::NotABoardPage, 0, {}},
        {"unreachable site", QStringLiteral("http://127.0.0.1:1/boards/1/"), QString(), true, Kind::NetworkError, 0,
         QStringLiteral("connection refused")},
        {"no answer in time", site.boardUrl(QStringLiteral("1001")), QString(), true, Kind::TimedOut, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RecordingServices rec(app.get());
        rec.startRuns = false;
        rec.address = c.address;
        const bool late = c.kind == Kind::TimedOut;
        if (c.what == std::string("unreachable site"))
            app->site.siteHost = QStringLiteral("127.0.0.1:1");
        // The site holds the page past the time-out.
        site.holdRequests(late ? QStringLiteral("/boards/1001/") : QString());
        app->timings.pageTimeoutMs = late ? 300 : 5000;
        RetrieveAlbumList(*app, rec);
        site.releaseRequests();
        app->site.siteHost = site.hostPort();

        EXPECT_EQ(app->albums.count(), 0);
        EXPECT_EQ(app->ListState, 0);
        EXPECT_EQ(rec.Messages(), c.message.isEmpty() ? QStringList() : QStringList{c.message});
        EXPECT_EQ(rec.downloadStarts, 0);
        if (!c.running) {
            EXPECT_TRUE(rec.Events().isEmpty()); // the display stays as it was
            EXPECT_TRUE(rec.Outcomes().isEmpty());
            continue;
        }
        EXPECT_EQ(rec.Events(), (QStringList{QStringLiteral("ShowListRunning"), QStringLiteral("ShowListIdle 0")}));
        EXPECT_EQ(rec.captions, QStringList{QStringLiteral("相册列表(共0个)")});
        // Nothing reads as a finished retrieval; the front end words the failure.
        EXPECT_TRUE(rec.Phases().isEmpty()) << rec.Phases().join(u'|').toStdString();
        ASSERT_EQ(rec.Outcomes().size(), 1);
        const ListOutcome o = rec.Outcomes()[0];
        EXPECT_EQ(o.kind, c.kind);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.detail, c.detail);
        EXPECT_EQ(o.loginMayHelp(), c.status == 403);
        if (c.kind == Kind::OtherSite) {
            EXPECT_EQ(o.site, site.hostPort());
        }
    }
}

TEST_F(BoardRead, AStopAbortsTheBoardRequestAndStartsNoRun)
{
    // The site holds the board page until the retrieval has ended: only the stop can end it.
    site.holdRequests(QStringLiteral("/boards/1001/"));
    app->timings.pageTimeoutMs = 60000;
    w->startRuns = true;
    w->address = site.boardUrl(QStringLiteral("1001"));
    ASSERT_TRUE(ListCommand(*app, *w));
    ASSERT_TRUE(waitFor([&] { return site.heldRequests() == 1; }, std::chrono::seconds(5)));
    EXPECT_FALSE(ListCommand(*app, *w)); // the second press: a stop request
    const bool endedWhileHeld = waitFor([&] { return app->ListState == 0; }, std::chrono::seconds(10));
    site.releaseRequests();
    ASSERT_TRUE(endedWhileHeld) << "the stop waited for the page";
    JoinFinished(*app);
    EXPECT_EQ(app->albums.count(), 0);
    EXPECT_EQ(w->downloadStarts, 0);
    ASSERT_EQ(w->Outcomes().size(), 1);
    EXPECT_EQ(w->Outcomes()[0].kind, ListOutcome::Kind::Stopped);
    EXPECT_FALSE(w->Outcomes()[0].failed());
}

TEST_F(BoardRead, NoRecordIsAddedBeforeStartUpHasFinished)
{
    app->ready = 0;
    retrieve(site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(app->albums.count(), 0);
    EXPECT_FALSE(app->source.strBoardPage.isEmpty()); // the page is kept all the same
}

TEST(AlbumRecords, DuplicateNamesAreNumbered)
{
    AlbumList list;
    ST_PERLISTRECORD r;
    const QStringList given = {QStringLiteral("sky"), QStringLiteral("sky"), QStringLiteral(" sky "),
                               QStringLiteral("Sky"), QStringLiteral("sky (1)")};
    for (const QString &name : given) {
        r.strName = name;
        AddAlbumRecord(list, r);
    }
    QStringList names;
    for (int i = 0; i < list.count(); ++i) {
        names << list.at(i).strName;
        EXPECT_EQ(list.at(i).nIndex, i);
        EXPECT_EQ(list.at(i).nImage, -1);
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("sky"), QStringLiteral("sky (1)"), QStringLiteral("sky (2)"),
                                  QStringLiteral("Sky"), QStringLiteral("sky (1) (1)")}));
}

TEST_F(BoardRead, ThumbnailCellsFollowTheGridOfThumbnails)
{
    app->bThumbMode = 1;
    app->thumbsPerRow = 3;
    w->headerRows = 0;
    for (int i = 0; i < 5; ++i) {
        ST_PERLISTRECORD r;
        r.strName = QStringLiteral("a%1").arg(i);
        AddAlbumRecord(app->albums, r);
    }
    RebuildAlbumRows(*app, *w);
    const auto rows = w->Rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].height, app->thumbHeight + 10);
    EXPECT_EQ(rows[1].text[1], QStringLiteral("5.a4")); // index 4: second row, second column
    EXPECT_EQ(rows[1].data[1], 4);
    EXPECT_EQ(app->ConvertState, 0);
}

TEST_F(BoardRead, AThumbnailComesFromTheFirstPin)
{
    app->bThumbMode = 1;
    w->headerRows = 0;
    retrieve(site.boardUrl(QStringLiteral("1001")));
    ASSERT_EQ(app->albums.count(), 1);
    const QByteArray first = site.pictureBytes(site.board(QStringLiteral("1001")).pins[0].key);
    EXPECT_EQ(w->thumbnails, QList<QByteArray>{first});
    EXPECT_EQ(app->albums.at(0).nImage, 0);
    EXPECT_EQ(w->Rows().value(0).image.value(0, -1), 0);
    // Kept with the profile's thumbnails; no request beyond the board page and the cover.
    EXPECT_TRUE(QFile::exists(app->profile.thumbnailFolder() + QStringLiteral("0.jpg")));
    EXPECT_EQ(site.requests().size(), 2);

    // A board without pins has no cover.
    BoardSite::Board empty = BoardSite::makeBoard(QStringLiteral("64"), QStringLiteral("Empty"), QStringLiteral("u"), 0, 1);
    site.addBoard(empty);
    app->albums.clear();
    retrieve(site.boardUrl(QStringLiteral("64")));
    ASSERT_EQ(app->albums.count(), 1);
    EXPECT_TRUE(app->albums.at(0).strCoverUrl.isEmpty());
    EXPECT_EQ(w->thumbnails.size(), 1);
}

TEST_F(BoardRead, TheFilterKeepsMatchingAlbumsAndIsEmptiedByTheRebuild)
{
    for (const char *name : {"red fox", "blue sky", "red sun"}) {
        ST_PERLISTRECORD r;
        r.strName = QString::fromUtf8(name);
        AddAlbumRecord(app->albums, r);
    }
    app->strFilter = QStringLiteral("red");
    RebuildAlbumRows(*app, *w);
    const auto rows = w->Rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].text[0], QStringLiteral("0001"));
    EXPECT_EQ(rows[1].text[0], QStringLiteral("0002"));
    EXPECT_EQ(rows[1].data[0], 2);
    EXPECT_TRUE(app->strFilter.isEmpty());
}
