#include "download/FileNaming.h"

#include "core/AppState.h"
#include "core/DownloadArchive.h"
#include "core/WindowServices.h"
#include "settings/SoftData.h"

#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

QString U(const char *utf8) { return QString::fromUtf8(utf8); }
const QString SEP = QDir::separator();

class Recorder : public WindowServices {
public:
    void SetProgressText(const QString &text, ReportKind = ReportKind::Other) override { progress << text; }
    void ShowMessage(const QString &text) override { messages << text; }
    QStringList progress;
    QStringList messages;
};

QByteArray Utf16Le(const QString &text)
{
    QByteArray bytes(text.size() * 2, '\0');
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + 2 * i);
    return bytes;
}

// One album being collected into "<sandbox>/base/": the state the download run leaves
// before it hands the album's pins to AddPicture.
struct Collector {
    Sandbox sb;
    AppState app{sb.path()};
    Recorder w;
    QString base;

    explicit Collector(const QString &albumName = QStringLiteral("album"), int32_t nIndex = 0)
    {
        base = sb.path() + QStringLiteral("base") + SEP;
        QDir().mkpath(base);
        ST_PERLISTRECORD r;
        r.strName = albumName;
        r.nIndex = nIndex;
        app.albums.append(r);
        app.downloads.reset(base);
    }
    ST_SAVESET &set() { return app.settings.SaveSet[SITE_MODE_BOARD]; }
    void add(const QString &description, const QString &address = {})
    {
        const QString a = address.isEmpty()
            ? QStringLiteral("http://img.test/p/%1").arg(app.downloads.addresses.size() + 1)
            : address;
        AddPicture(app, w, a, description, QString(), 0);
    }
    QStringList names() const { return app.downloads.fileNames; }
};

// ---------------------------------------------------------------- naming table

struct NamingCase {
    const char *label;
    std::vector<const char *> descriptions; // one picture each
    std::vector<const char *> expected;     // the file names, in order
    uint8_t nameBase = 0;
    const char *prefix = "";
    const char *suffix = "";
    const char *replaceWhat = "";
    const char *replaceWith = "";
    const char *album = "album";
    int32_t nIndex = 0;
    std::vector<const char *> addresses = {}; // else generated
};

const std::vector<NamingCase> &NamingCases()
{
    static const std::vector<NamingCase> cases = {
        {.label = "description cleaned", .descriptions = {"a  b\tc?"}, .expected = {"a b_c.jpg"}},
        {.label = "empty description takes the album name", .descriptions = {""}, .expected = {"album.jpg"}},
        {.label = "index mode with ?9 prefix",
         .descriptions = {"", "", "", "", ""},
         .expected = {"0003-1.jpg", "0003-2.jpg", "0003-3.jpg", "0003-4.jpg", "0003-5.jpg"},
         .nameBase = 1, .prefix = "?9-", .nIndex = 2},
        {.label = "address mode: last segment, else the number",
         .descriptions = {"", "", ""},
         .expected = {"abc123.jpg", "2.jpg", "3.jpg"},
         .nameBase = 2, .addresses = {"http://img.test/p/abc123", "noslash", "/lead"}},
        {.label = "replacement lists of equal length", .descriptions = {"abc"}, .expected = {"12c.jpg"},
         .replaceWhat = "a|b", .replaceWith = "1|2"},
        {.label = "replacement lists of different length replace the literal text",
         .descriptions = {"abc"}, .expected = {"xabc.jpg"},
         .prefix = "a|b", .replaceWhat = "a|b", .replaceWith = "x"},
        {.label = "picture extension kept with its case, other extension gets .jpg",
         .descriptions = {"photo.PNG", "photo.webp", "scan.tif", "a.AVIF", "b.jfif", "c.heic", "d.webm"},
         .expected = {"photo.PNG", "photo.webp", "scan.tif", "a.AVIF", "b.jfif", "c.heic", "d.webm.jpg"}},
        {.label = "duplicates count from the duplicate base",
         .descriptions = {"x", "x?", "x", "X.JPG"},
         .expected = {"x.jpg", "x(1).jpg", "x(2).jpg", "X.JPG(1).JPG"}},
        {.label = "a picture extension stays in front of the counter",
         .descriptions = {"sky.png", "sky.png"}, .expected = {"sky.png", "sky.png(1).png"}},
        {.label = "case folding beyond ASCII",
         .descriptions = {"Ärger", "ärger", "ΣΟΦΙΑ", "σοφια"},
         .expected = {"Ärger.jpg", "ärger(1).jpg", "ΣΟΦΙΑ.jpg", "σοφια(1).jpg"}},
        {.label = "absolute-looking descriptions are ordinary names",
         .descriptions = {"C:\\dir\\pic.png", "/etc/passwd", "..\\..\\up", "..", "./"},
         .expected = {"Cdirpic.png", "etcpasswd.jpg", "up.jpg", "。。.jpg", "album.jpg"}},
        {.label = "names Windows reserves get a leading underscore",
         .descriptions = {"con", "LPT1.png", "aux.txt", "Nul .gif", "COM10", "console"},
         .expected = {"_con.jpg", "_LPT1.png", "_aux.txt.jpg", "_Nul .gif", "COM10.jpg", "console.jpg"}},
        {.label = "text put in by ?1 is open to ?2",
         .descriptions = {"", ""}, .expected = {"a1b-1.jpg", "a2b-2.jpg"},
         .nameBase = 1, .prefix = "?1-", .album = "a?2b"},
        {.label = "escape codes of the album list",
         .descriptions = {"d"}, .expected = {"3-0-0-0-1-d-x.jpg"},
         .prefix = "?3-?4-?5-?6-?7-", .suffix = "-x", .nIndex = 2},
        {.label = "control characters never reach a name",
         .descriptions = {"a\x01" "b"}, .expected = {"ab.jpg"}},
    };
    return cases;
}

TEST(AddPictureNaming, Table)
{
    for (const NamingCase &c : NamingCases()) {
        SCOPED_TRACE(c.label);
        Collector col(U(c.album), c.nIndex);
        ST_SAVESET &s = col.set();
        s.byNameBase = c.nameBase;
        SetFieldText(s.szPrefix, U(c.prefix));
        SetFieldText(s.szSuffix, U(c.suffix));
        SetFieldText(s.szReplaceWhat, U(c.replaceWhat));
        SetFieldText(s.szReplaceWith, U(c.replaceWith));
        for (size_t i = 0; i < c.descriptions.size(); ++i)
            col.add(U(c.descriptions[i]), i < c.addresses.size() ? U(c.addresses[i]) : QString());
        QStringList expected;
        for (const char *e : c.expected)
            expected << U(e);
        EXPECT_EQ(col.names(), expected);
    }
}

TEST(AddPictureNaming, EmptyNamesFallBackToDateTime)
{
    Collector col(QStringLiteral("???"));
    col.add(QString());
    ASSERT_EQ(col.names().size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{14}\\.jpg$")).match(col.names()[0]).hasMatch())
        << col.names()[0].toStdString();
    // The album name cleaned to nothing too: the pictures sit in the base folder.
    EXPECT_EQ(col.app.downloads.folder(), col.base);
}

TEST(AddPictureNaming, ListsGrowTogetherAndStatusLineCounts)
{
    Collector col;
    AddPicture(col.app, col.w, QStringLiteral("http://img.test/1"), QStringLiteral("one"),
               QStringLiteral("Referer: x"), 0);
    AddPicture(col.app, col.w, QStringLiteral("http://img.test/2"), QStringLiteral("two"), QString(), 0);
    const DownloadList &d = col.app.downloads;
    EXPECT_EQ(d.addresses, QStringList({QStringLiteral("http://img.test/1"), QStringLiteral("http://img.test/2")}));
    EXPECT_EQ(d.fileNames, QStringList({QStringLiteral("one.jpg"), QStringLiteral("two.jpg")}));
    EXPECT_EQ(d.headers, QStringList({QStringLiteral("Referer: x"), QString()}));
    EXPECT_EQ(col.w.progress, QStringList({U("已获取到1张图片信息"), U("已获取到2张图片信息")}));
    EXPECT_EQ(col.app.DownState.load(), 0);
}

// ---------------------------------------------------------------- album folder and lengths

TEST(AddPictureFolder, FolderDecidedAtFirstPicture)
{
    struct Case {
        const char *label;
        const char *album;
        const char *prefix;
        const char *suffix;
        uint8_t byFolderName;
        const char *folder; // below base; "" is the base itself
    } cases[] = {
        {"album name", "album", "", "", 0, "album"},
        {"?2 is not a folder code", "album", "?2", "", 0, "2album"},
        {"?1 ?3 ?9", "al", "?9_", "_?3?1", 1, "0006__6al"},
        {"no folder name", "album", "", "", 1, ""},
        {"reserved name", "CON", "", "", 0, "_CON"},
        {"absolute-looking album name", "/etc", "", "", 0, "etc"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Collector col(U(c.album), 5);
        SetFieldText(col.set().szFolderPrefix, U(c.prefix));
        SetFieldText(col.set().szFolderSuffix, U(c.suffix));
        col.set().byFolderName = c.byFolderName;
        col.add(QStringLiteral("p"));
        const QString expected = col.base + (*c.folder ? U(c.folder) + SEP : QString());
        EXPECT_EQ(col.app.downloads.folder(), expected);
        EXPECT_TRUE(QFileInfo(expected).isDir());
        col.add(QStringLiteral("q")); // the folder is not decided again
        EXPECT_EQ(col.app.downloads.folder(), expected);
    }
}

#ifdef Q_OS_WIN
// Collects straight into a folder of `units` units (no album level).
void UseFolderOf(Collector &col, qsizetype units)
{
    col.set().byFolderName = 1;
    QString folder = col.sb.path();
    folder += QString(units - folder.size() - 1, u'f') + SEP;
    ASSERT_EQ(folder.size(), units);
    col.app.downloads.reset(folder);
}

TEST(AddPictureFolder, LongFolderLeavesTenUnits)
{
    Collector col;
    UseFolderOf(col, 240);
    col.add(QStringLiteral("abcdefghijklmnop"));
    col.add(QStringLiteral("abcdefghijklmnop"));
    col.add(QStringLiteral("abcdefghi") + U("😀")); // the cut falls inside the pair
    col.add(QStringLiteral("abcdefghijk.png"));
    EXPECT_EQ(col.names(), QStringList({QStringLiteral("abcdefghij.jpg"),
                                        QStringLiteral("abcdefghijklmnop(1).jpg"),
                                        QStringLiteral("abcdefghi.jpg"),
                                        QStringLiteral("abcdefghijk.png(1).jpg")}));
}

TEST(AddPictureFolder, CutNeverLeavesAReservedName)
{
    Collector col;
    UseFolderOf(col, 247);
    col.add(QStringLiteral("console"));
    EXPECT_EQ(col.names(), QStringList{QStringLiteral("_con.jpg")});
}

TEST(AddPictureFolder, ACutNeverLeavesAnEmptyName)
{
    Collector col;
    UseFolderOf(col, 260);
    col.add(QStringLiteral("first"));
    col.add(U("😀second"));
    EXPECT_EQ(col.names(), QStringList({QStringLiteral("f.jpg"), U("😀.jpg")}));
}
#else
TEST(AddPictureFolder, ALongAlbumFolderLeavesNamesWhole)
{
    // POSIX limits each name, not the path: however long the album folder, a picture's
    // name is its description (no hidden ".jpg", no "(1)" for a name that was cut to
    // the same nothing as another).
    Collector col(QString(240, u'a'));
    const QString longName = QString(300, u'x');
    for (const QString &d : {QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("first"),
                             QStringLiteral("photo.png"), longName})
        col.add(d);
    const QString folder = col.app.downloads.folder();
    ASSERT_GT(folder.size(), 250);
    EXPECT_EQ(col.names(), QStringList({QStringLiteral("first.jpg"), QStringLiteral("second.jpg"),
                                        QStringLiteral("first(1).jpg"), QStringLiteral("photo.png"),
                                        QString(251, u'x') + QStringLiteral(".jpg")}));
    for (const QString &name : col.names()) {
        QFile f(folder + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
    }
}
#endif

#ifndef Q_OS_WIN
TEST(AddPictureFolder, NamesFitIn255BytesOfUtf8)
{
    Collector col(QString(120, QChar(0x56FE))); // 360 bytes of album name
    col.add(QString(100, QChar(0x56FE)));
    col.add(QString(100, QChar(0x56FE)) + QStringLiteral(".png"));
    QString emoji;
    for (int i = 0; i < 70; ++i)
        emoji += U("😀");
    col.add(emoji);
    col.add(QString(100, QChar(0x56FE)));

    const QStringList names = col.names();
    ASSERT_EQ(names.size(), 4);
    EXPECT_EQ(names[0], QString(83, QChar(0x56FE)) + QStringLiteral(".jpg"));
    EXPECT_EQ(names[1], QString(83, QChar(0x56FE)) + QStringLiteral(".png"));
    EXPECT_EQ(names[2].size(), 62 * 2 + 4);
    EXPECT_FALSE(names[2].contains(QChar(0xFFFD)));
    EXPECT_TRUE(names[2].startsWith(U("😀")) && names[2].endsWith(U("😀.jpg")));
    // The duplicate keeps its counter and extension inside the limit.
    EXPECT_EQ(names[3], QString(82, QChar(0x56FE)) + QStringLiteral("(1).jpg"));
    for (const QString &n : names)
        EXPECT_LE(n.toUtf8().size(), 255);

    const QString folderName = QDir(col.app.downloads.folder()).dirName();
    EXPECT_EQ(folderName, QString(85, QChar(0x56FE)));
    EXPECT_TRUE(QFileInfo(col.app.downloads.folder()).isDir());
    // A picture file of that name can really be made there.
    QFile f(col.app.downloads.folder() + names[3]);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST(AddPictureFolder, TheUnderscoreOfAReservedNameFitsIn255Bytes)
{
    // The stem before the first "." is what Windows reserves, however long the rest.
    Collector col(QStringLiteral("NUL.") + QString(100, QChar(0x56FE)));
    col.add(QStringLiteral("con.") + QString(100, QChar(0x56FE)));
    const QString folderName = QDir(col.app.downloads.folder()).dirName();
    EXPECT_TRUE(folderName.startsWith(QStringLiteral("_NUL.")));
    EXPECT_LE(folderName.toUtf8().size(), 255);
    EXPECT_TRUE(QFileInfo(col.app.downloads.folder()).isDir());
    const QString name = col.names().value(0);
    EXPECT_TRUE(name.startsWith(QStringLiteral("_con.")) && name.endsWith(QStringLiteral(".jpg")));
    EXPECT_LE(name.toUtf8().size(), 255);
}
#endif

// ---------------------------------------------------------------- skip check and mark file

TEST(AddPictureSkip, StopsAtThePreviousRunsFirstPicture)
{
    for (const bool option : {true, false}) {
        SCOPED_TRACE(option ? "option set" : "option clear");
        Collector col;
        col.sb.write(QStringLiteral("base/album/pic.kzv"), Utf16Le(QStringLiteral("http://img.test/p/2")));
        if (option)
            col.set().wOptions = OPT_SKIP_DOWNLOADED;
        col.add(QStringLiteral("a"));
        EXPECT_EQ(col.app.strLastPicture, QStringLiteral("http://img.test/p/2"));
        col.add(QStringLiteral("b"));
        if (option) {
            EXPECT_EQ(col.app.DownState.load(), 2);
            EXPECT_EQ(col.names(), QStringList{QStringLiteral("a.jpg")});
            EXPECT_EQ(col.app.downloads.headers.size(), 1);
            EXPECT_EQ(col.w.progress.size(), 1);
        } else {
            EXPECT_EQ(col.app.DownState.load(), 0);
            EXPECT_EQ(col.names().size(), 2);
        }
    }
}

TEST(AddPictureSkip, EmptyMarkNeverMatches)
{
    Collector col;
    col.sb.write(QStringLiteral("base/album/pic.kzv"), QByteArray());
    col.set().wOptions = OPT_SKIP_DOWNLOADED;
    AddPicture(col.app, col.w, QString(), QStringLiteral("a"), QString(), 0);
    EXPECT_EQ(col.app.DownState.load(), 0);
    EXPECT_EQ(col.names().size(), 1);
}

TEST(ReadLastPictureMark, FirstLineOfRawUnits)
{
    Sandbox sb;
    EXPECT_EQ(ReadLastPictureMark(sb.path()), QString());
    sb.write(QStringLiteral("pic.kzv"), Utf16Le(U("http://img.test/图")));
    EXPECT_EQ(ReadLastPictureMark(sb.path()), U("http://img.test/图"));
    sb.write(QStringLiteral("pic.kzv"), Utf16Le(QStringLiteral("first\nsecond")));
    EXPECT_EQ(ReadLastPictureMark(sb.path()), QStringLiteral("first"));
    sb.write(QStringLiteral("pic.kzv"), Utf16Le(QStringLiteral("ab")) + QByteArray("\x63", 1));
    EXPECT_EQ(ReadLastPictureMark(sb.path()), QStringLiteral("ab"));
}

// ---------------------------------------------------------------- earlier runs' files

// Names against the files an earlier run left: a file is replaced only by the picture
// the archive says it holds; the skip option leaves archived pictures out but keeps
// their numbers.
TEST(AddPictureEarlierRuns, NothingOfAnEarlierRunIsOverwritten)
{
    struct Pin {
        const char *description;
        const char *address;
    };
    struct Case {
        const char *label;
        std::vector<const char *> files = {};   // in the album folder before the run
        std::vector<const char *> archive = {}; // "address\tname" lines
        std::vector<Pin> pins = {};
        std::vector<const char *> expected = {}; // file names collected, in order
        uint8_t nameBase = 0;
        bool skip = false;
        int skipped = 0;
    };
    const std::vector<Case> cases = {
        {.label = "a file the archive does not know takes the duplicate rule",
         .files = {"x.jpg", "x(1).jpg"},
         .pins = {{"x", "http://img.test/a"}, {"x", "http://img.test/b"}, {"y", "http://img.test/c"}},
         .expected = {"x(2).jpg", "x(3).jpg", "y.jpg"}},
        {.label = "the same picture again replaces its own file, and only that",
         .files = {"x.jpg", "x(1).jpg"},
         .archive = {"http://img.test/a\tx.jpg", "http://img.test/b\tx(1).jpg"},
         .pins = {{"x", "http://img.test/new"}, {"x", "http://img.test/a"}, {"x", "http://img.test/b"}},
         .expected = {"x(2).jpg", "x.jpg", "x(1).jpg"}},
        {.label = "names compare ignoring case on disk too",
         .files = {"X.JPG"},
         .pins = {{"x", "http://img.test/a"}},
         .expected = {"x(1).jpg"}},
        {.label = "a grown board with number names: new pictures never take old numbers",
         .files = {"1.jpg", "2.jpg"},
         .archive = {"http://img.test/old1\t1.jpg", "http://img.test/old2\t2.jpg"},
         .pins = {{"", "http://img.test/new1"}, {"", "http://img.test/new2"}, {"", "http://img.test/old1"},
                  {"", "http://img.test/old2"}},
         .expected = {"1(1).jpg", "2(1).jpg", "3.jpg", "4.jpg"},
         .nameBase = 1},
        {.label = "skipping archived pictures keeps the numbering",
         .files = {"1.jpg", "3.jpg"},
         .archive = {"http://img.test/p1\t1.jpg", "http://img.test/p3\t3.jpg"},
         .pins = {{"", "http://img.test/p1"}, {"", "http://img.test/p2"}, {"", "http://img.test/p3"},
                  {"", "http://img.test/p4"}},
         .expected = {"2.jpg", "4.jpg"},
         .nameBase = 1, .skip = true, .skipped = 2},
        {.label = "pins without description: the album name, then the counter past old files",
         .files = {"album.jpg", "album(1).jpg"},
         .archive = {"http://img.test/a\talbum.jpg", "http://img.test/b\talbum(1).jpg"},
         .pins = {{"", "http://img.test/c"}, {"", "http://img.test/d"}},
         .expected = {"album(2).jpg", "album(3).jpg"},
         .skip = true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Collector col;
        for (const char *f : c.files)
            col.sb.write(QStringLiteral("base/album/") + U(f), "earlier");
        QByteArray archive;
        for (const char *line : c.archive)
            archive += QByteArray(line) + '\n';
        if (!archive.isEmpty())
            col.sb.write(QStringLiteral("base/album/") + DownloadArchive::FileName(), archive);
        col.set().byNameBase = c.nameBase;
        if (c.skip)
            col.set().wOptions = OPT_SKIP_DOWNLOADED;
        for (const Pin &pin : c.pins)
            col.add(U(pin.description), U(pin.address));
        QStringList expected;
        for (const char *e : c.expected)
            expected << U(e);
        EXPECT_EQ(col.names(), expected);
        EXPECT_EQ(col.app.downloads.skipped, c.skipped);
        for (const char *f : c.files)
            EXPECT_EQ(col.sb.read(QStringLiteral("base/album/") + U(f)), QByteArray("earlier"));
    }
}

// ---------------------------------------------------------------- names file

TEST(WriteNamesFile, NewLinesGoBeforeTheEarlierOnes)
{
    Sandbox sb;
    const QString path = sb.file(QStringLiteral("album.txt"));
    const QByteArray bom("\xFF\xFE", 2);
    ASSERT_TRUE(WriteNamesFile(path, {U("一 / 二?"), QStringLiteral("b  c")}, true));
    EXPECT_EQ(sb.read(QStringLiteral("album.txt")), bom + Utf16Le(U("一 / 二?\r\nb  c\r\n")));
    ASSERT_TRUE(WriteNamesFile(path, {QStringLiteral("new")}, true));
    EXPECT_EQ(sb.read(QStringLiteral("album.txt")), bom + Utf16Le(U("new\r\n一 / 二?\r\nb  c\r\n")));
    // Without the earlier lines: the file is exactly the new ones.
    ASSERT_TRUE(WriteNamesFile(path, {QStringLiteral("all")}, false));
    EXPECT_EQ(sb.read(QStringLiteral("album.txt")), bom + Utf16Le(QStringLiteral("all\r\n")));
}

TEST(WriteNamesFile, ALinkIsReplacedAndAFolderIsReported)
{
    Sandbox sb;
    sb.write(QStringLiteral("victim"), "not yours");
    ASSERT_TRUE(QFile::link(sb.file(QStringLiteral("victim")), sb.file(QStringLiteral("album.txt"))));
    ASSERT_TRUE(WriteNamesFile(sb.file(QStringLiteral("album.txt")), {QStringLiteral("a")}, true));
    EXPECT_EQ(sb.read(QStringLiteral("victim")), QByteArray("not yours"));
    EXPECT_FALSE(QFileInfo(sb.file(QStringLiteral("album.txt"))).isSymLink());
    EXPECT_EQ(sb.read(QStringLiteral("album.txt")), QByteArray("\xFF\xFE", 2) + Utf16Le(QStringLiteral("a\r\n")));

    ASSERT_TRUE(QDir().mkpath(sb.file(QStringLiteral("folder.txt"))));
    QString why;
    EXPECT_FALSE(WriteNamesFile(sb.file(QStringLiteral("folder.txt")), {QStringLiteral("a")}, false, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(QFileInfo(sb.file(QStringLiteral("folder.txt"))).isDir());
    EXPECT_EQ(filesBelow(sb.path()), QStringList({QStringLiteral("album.txt"), QStringLiteral("victim")}));
}

TEST(AddPictureNamesFile, CollectingWritesNoFile)
{
    Collector col;
    col.set().wOptions = OPT_NAMES_FILE;
    col.add(QStringLiteral("a"));
    EXPECT_EQ(col.app.downloads.descriptions, QStringList{QStringLiteral("a")});
    EXPECT_FALSE(QFileInfo::exists(col.sb.file(QStringLiteral("base/album/album.txt"))));
}

// ---------------------------------------------------------------- file operations

TEST(HasPictureExtension, Cases)
{
    EXPECT_TRUE(HasPictureExtension(QStringLiteral("a.JPEG")));
    EXPECT_TRUE(HasPictureExtension(QStringLiteral("a.b.gif")));
    EXPECT_TRUE(HasPictureExtension(QStringLiteral(".bmp")));
    EXPECT_FALSE(HasPictureExtension(QStringLiteral("a.tiff")));
    EXPECT_FALSE(HasPictureExtension(QStringLiteral("a.png.x")));
    EXPECT_FALSE(HasPictureExtension(QStringLiteral("png")));
    // Today's formats.
    for (const char *name : {"x.webp", "x.WebP", "x.avif", "x.jpeg", "x.jfif", "x.heic", "x.HEIC"})
        EXPECT_TRUE(HasPictureExtension(U(name))) << name;
    EXPECT_FALSE(HasPictureExtension(QStringLiteral("x.webm")));
}

TEST(MakeFolderPath, CreatesEveryLevelAndNormalises)
{
    Sandbox sb;
    Recorder w;
    QString path = QStringLiteral("  ") + sb.path() + QStringLiteral("a") + SEP + QStringLiteral("b \t");
    EXPECT_TRUE(MakeFolderPath(path, w));
    EXPECT_EQ(path, sb.path() + QStringLiteral("a") + SEP + QStringLiteral("b") + SEP);
    EXPECT_TRUE(QFileInfo(sb.file(QStringLiteral("a/b"))).isDir());
    EXPECT_TRUE(MakeFolderPath(path, w)); // all there already
    EXPECT_TRUE(w.messages.isEmpty());
}

TEST(MakeFolderPath, FileInTheWayFails)
{
    Sandbox sb;
    Recorder w;
    sb.write(QStringLiteral("f"), "x");
    QString path = sb.path() + QStringLiteral("f") + SEP + QStringLiteral("g");
    EXPECT_FALSE(MakeFolderPath(path, w));
    EXPECT_EQ(w.messages, QStringList{sb.path() + QStringLiteral("f")});
    EXPECT_FALSE(QFileInfo::exists(sb.file(QStringLiteral("f/g"))));
}

qint64 ModifiedSecs(const QString &path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

TEST(FileTimes, SetAndIgnoredForNonPositive)
{
    Sandbox sb;
    sb.write(QStringLiteral("p.jpg"), "x");
    QDir().mkdir(sb.file(QStringLiteral("d")));
    SetFileTimes(sb.file(QStringLiteral("p.jpg")), 1000000000);
    SetFolderTimes(sb.file(QStringLiteral("d")) + SEP, 1100000000);
    EXPECT_EQ(ModifiedSecs(sb.file(QStringLiteral("p.jpg"))), 1000000000);
    EXPECT_EQ(QFileInfo(sb.file(QStringLiteral("p.jpg"))).lastRead().toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(ModifiedSecs(sb.file(QStringLiteral("d"))), 1100000000);
    SetFileTimes(sb.file(QStringLiteral("p.jpg")), 0);
    SetFileTimes(sb.file(QStringLiteral("p.jpg")), -5);
    EXPECT_EQ(ModifiedSecs(sb.file(QStringLiteral("p.jpg"))), 1000000000);
    SetFileTimes(sb.file(QStringLiteral("missing.jpg")), 1000000000); // no effect, no crash
    EXPECT_FALSE(QFileInfo::exists(sb.file(QStringLiteral("missing.jpg"))));
}

TEST(FixPictureOrder, OneMinuteApartInListOrder)
{
    Collector col;
    const QString folder = col.base;
    col.app.downloads.fileNames = {QStringLiteral("c.jpg"), QStringLiteral("a.jpg"), QStringLiteral("b.jpg")};
    for (const QString &n : col.app.downloads.fileNames)
        col.sb.write(QStringLiteral("base/") + n, "x");
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    FixPictureOrder(col.app);
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    const qint64 t0 = ModifiedSecs(folder + QStringLiteral("c.jpg"));
    EXPECT_GE(t0, before);
    EXPECT_LE(t0, after);
    EXPECT_EQ(ModifiedSecs(folder + QStringLiteral("a.jpg")), t0 - 60);
    EXPECT_EQ(ModifiedSecs(folder + QStringLiteral("b.jpg")), t0 - 120);
}

// First bytes of real picture headers.
const QByteArray JPEG("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
const QByteArray PNG("\x89PNG\r\n\x1A\n", 8);
const QByteArray GIF("GIF89a\x01\x00", 8);
const QByteArray BMP("BM\x36\x00\x00\x00\x00", 7);
const QByteArray TIFF_MM("MM\x00\x2A\x00\x00\x00\x08", 8);
const QByteArray TIFF_II("II\x2A\x00\x08\x00\x00\x00", 8);

// A picture made by Debian's encoders (tools/boardsite/pictures/make.sh).
QByteArray encoded(const char *name)
{
    QFile f(QStringLiteral(":/boardsite/pictures/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An ftyp box with these brands, then a little data.
QByteArray ftyp(const QByteArray &major, const QList<QByteArray> &compatible)
{
    QByteArray box = QByteArray(3, '\0') + char(16 + 4 * compatible.size()) + "ftyp" + major + QByteArray(4, '\0');
    for (const QByteArray &brand : compatible)
        box += brand;
    return box + QByteArray("\0\0\0\x08free", 8);
}

TEST(DetectPictureType, RenamesByContent)
{
    struct Case {
        const char *label;
        QByteArray content;
        const char *name;
        const char *expected;
    } cases[] = {
        {"png named jpg", PNG, "a.jpg", "a.png"},
        {"jpeg named jpeg", JPEG, "a.jpeg", "a.jpg"},
        {"gif", GIF, "a.jpg", "a.gif"},
        {"bmp", BMP, "a.jpg", "a.bmp"},
        {"tiff MM", TIFF_MM, "a.jpg", "a.tiff"},
        {"tiff II", TIFF_II, "a.jpg", "a.tiff"},
        {"tga type 2", QByteArray("\x00\x00\x02\x00\x00\x00\x00", 7), "a.jpg", "a.tga"},
        {"tga type 16", QByteArray("\x00\x00\x10\x00\x00\x00\x00", 7), "a.jpg", "a.tga"},
        {"type 10 is not tga", QByteArray("\x00\x00\x0A\x00\x00\x00\x00", 7), "a.jpg", "a.jpg"},
        {"ico", QByteArray("\x00\x00\x01\x00\x01\x00", 6), "a.jpg", "a.ico"},
        {"cur", QByteArray("\x00\x00\x02\x00\x01\x00", 6), "a.jpg", "a.cur"},
        {"unknown keeps the name", QByteArray("<html>"), "a.jpg", "a.jpg"},
        {"short file", QByteArray("\xFF", 1), "a.png", "a.png"},
        {"jpeg already right", JPEG, "a.jpg", "a.jpg"},
        {"dot only in the folder", PNG, "d.x/pic", "d.x/pic.png"},
        {"webp lossy (VP8X) named jpg", encoded("photo.webp"), "a.jpg", "a.webp"},
        {"webp lossless (VP8L) without extension", encoded("photo-lossless.webp"), "a", "a.webp"},
        {"avif named jpg", encoded("photo.avif"), "a.jpg", "a.avif"},
        {"heic named jpg", encoded("photo.heic"), "a.jpg", "a.heic"},
        {"avif already right", encoded("photo.avif"), "a.avif", "a.avif"},
        {"generic HEIF major, HEIC compatible", ftyp("mif1", {"mif1", "heic"}), "a.jpg", "a.heic"},
        {"generic HEIF major, AVIF compatible", ftyp("mif1", {"miaf", "avif"}), "a.jpg", "a.avif"},
        {"AVIF image sequence", ftyp("avis", {"avis", "msf1"}), "a.jpg", "a.avif"},
        {"an MP4 video is no picture", ftyp("isom", {"isom", "mp41"}), "a.jpg", "a.jpg"},
        {"RIFF but not WebP", QByteArray("RIFF\x04\0\0\0WAVE", 12), "a.jpg", "a.jpg"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Sandbox sb;
        sb.write(U(c.name), c.content);
        QString path = QDir::toNativeSeparators(sb.file(U(c.name)));
        EXPECT_TRUE(DetectPictureType(path));
        const QString expected = QDir::toNativeSeparators(sb.file(U(c.expected)));
        EXPECT_EQ(path, expected);
        EXPECT_EQ(sb.read(U(c.expected)), c.content);
        if (qstrcmp(c.name, c.expected) != 0) {
            EXPECT_FALSE(QFileInfo::exists(sb.file(U(c.name))));
        }
    }
}

TEST(DetectPictureType, FailuresKeepThePath)
{
    Sandbox sb;
    QString missing = sb.file(QStringLiteral("missing.jpg"));
    EXPECT_FALSE(DetectPictureType(missing));
    EXPECT_EQ(missing, sb.file(QStringLiteral("missing.jpg")));

    // Another picture already has the new name: neither file is touched.
    sb.write(QStringLiteral("a.jpg"), PNG);
    sb.write(QStringLiteral("a.png"), QByteArray("other picture"));
    QString path = sb.file(QStringLiteral("a.jpg"));
    EXPECT_FALSE(DetectPictureType(path));
    EXPECT_EQ(path, sb.file(QStringLiteral("a.jpg")));
    EXPECT_EQ(sb.read(QStringLiteral("a.jpg")), PNG);
    EXPECT_EQ(sb.read(QStringLiteral("a.png")), QByteArray("other picture"));
}

TEST(FixPictureFormat, EntriesFollowTheFiles)
{
    Collector col;
    col.app.downloads.fileNames = {QStringLiteral("a.jpg"), QStringLiteral("missing.jpg"),
                                   QStringLiteral("c.png"), QStringLiteral("d.jpg"),
                                   QStringLiteral("e.jpg")};
    col.sb.write(QStringLiteral("base/a.jpg"), PNG);
    col.sb.write(QStringLiteral("base/c.png"), JPEG);
    col.sb.write(QStringLiteral("base/d.jpg"), QByteArray("????"));
    col.sb.write(QStringLiteral("base/e.jpg"), GIF);
    col.sb.write(QStringLiteral("base/e.gif"), QByteArray("taken"));
    FixPictureFormat(col.app);
    EXPECT_EQ(col.names(), QStringList({QStringLiteral("a.png"), QStringLiteral("missing.jpg"),
                                        QStringLiteral("c.jpg"), QStringLiteral("d.jpg"),
                                        QStringLiteral("e.jpg")}));
    EXPECT_EQ(col.sb.read(QStringLiteral("base/a.png")), PNG);
    EXPECT_EQ(col.sb.read(QStringLiteral("base/c.jpg")), JPEG);
    EXPECT_EQ(col.sb.read(QStringLiteral("base/e.gif")), QByteArray("taken"));
}

} // namespace
