#include "download/FileNaming.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "platform/SaveFile.h"
#include "platform/Platform.h"
#include "settings/SoftData.h"
#include "text/StringCtrl.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(FileNaming)
};

#ifdef Q_OS_WIN
constexpr qsizetype PATH_UNITS = 250;     // folder + name before the extension
#endif
constexpr qsizetype NAME_BYTES_MAX = 255; // one path component on POSIX file systems

QChar Separator()
{
    return QDir::separator();
}

// C0 controls that the cleaning keeps would be invalid on Windows and a NUL would cut
// the name short on POSIX. Tab, CR, LF and bell are left for the cleaning itself.
void StripControls(QString &text)
{
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 && u != u'\t' && u != u'\r' && u != u'\n' && u != u'\a';
    });
}

} // namespace

void CleanName(QString &text, bool fallback)
{
    StripControls(text);
    CleanFileName(text, fallback);
}

namespace {

// Windows maps these names to devices, with any extension and in any case.
bool IsReservedName(const QString &name)
{
    QString stem = name.left(name.indexOf(u'.')); // whole name when there is no "."
    while (stem.endsWith(u' '))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList plain = {QStringLiteral("CON"), QStringLiteral("PRN"),
                                      QStringLiteral("AUX"), QStringLiteral("NUL"),
                                      QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(stem))
        return true;
    if (stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))) {
        const char16_t d = stem.at(3).unicode();
        return (d >= u'0' && d <= u'9') || d == u'\u00B9' || d == u'\u00B2' || d == u'\u00B3';
    }
    return false;
}

#ifdef Q_OS_WIN
// The first `units` units, never ending inside a surrogate pair, and at least the first
// character: a name is never cut to nothing.
QString CutUnits(const QString &text, qsizetype units)
{
    if (text.size() <= units)
        return text;
    qsizetype n = std::max<qsizetype>(units, 1);
    if (text.at(n - 1).isHighSurrogate())
        n += n == 1 ? 1 : -1;
    return text.left(n);
}
#endif

// UTF-8 bytes of one character starting at text[i]; `units` gets its UTF-16 length.
qsizetype Utf8Bytes(const QString &text, qsizetype i, qsizetype &units)
{
    const char16_t u = text.at(i).unicode();
    units = 1;
    if (QChar::isHighSurrogate(u) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
        units = 2;
        return 4;
    }
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    return 3; // the rest of the BMP; a lone surrogate is written as U+FFFD
}

qsizetype Utf8Length(const QString &text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0, units = 0; i < text.size(); i += units)
        bytes += Utf8Bytes(text, i, units);
    return bytes;
}

// The longest head of text that fits in `budget` UTF-8 bytes, whole characters only.
QString CutUtf8(const QString &text, qsizetype budget)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype units = 0;
        const qsizetype b = Utf8Bytes(text, i, units);
        if (bytes + b > budget)
            break;
        bytes += b;
        i += units;
    }
    return text.left(i);
}

// Makes base + tail + ext a name that may stand in any folder: cut (POSIX) to 255
// bytes by shortening base, and a "_" in front of a name Windows reserves. Answers
// base + tail; `cut` tells whether base was shortened.
QString FitName(QString base, const QString &tail, const QString &ext, bool *cut = nullptr)
{
    bool shortened = false;
#ifndef Q_OS_WIN
    const qsizetype fixed = Utf8Length(tail) + Utf8Length(ext);
    const auto fit = [&] {
        if (Utf8Length(base) + fixed > NAME_BYTES_MAX) {
            base = CutUtf8(base, NAME_BYTES_MAX - fixed);
            shortened = true;
        }
    };
    fit();
#endif
    if (IsReservedName(base + tail + ext)) {
        base.prepend(u'_');
#ifndef Q_OS_WIN
        fit(); // the "_" must fit as well
#endif
    }
    if (cut)
        *cut = shortened;
    return base + tail;
}

// An album folder name fit for any file system; empty stays empty.
QString FitFolderName(const QString &name)
{
    if (name.isEmpty())
        return name;
    bool cut = false;
    QString fitted = FitName(name, {}, {}, &cut);
    if (cut) {
        // Windows drops trailing blanks and dots, which a cut may have left.
        while (!fitted.isEmpty() && (fitted.back() == u' ' || fitted.back() == u'.'))
            fitted.chop(1);
        if (IsReservedName(fitted))
            fitted.prepend(u'_');
    }
    return fitted;
}

// Separators are never part of a name, whatever the album list holds.
QString WithoutSeparators(QString name)
{
    name.remove(u'/');
    name.remove(u'\\');
    name.remove(QChar(0));
    return name;
}

// UTF-16LE bytes of the text, whatever the host order.
QByteArray Utf16Le(const QString &text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        qToLittleEndian<quint16>(text.at(i).unicode(), bytes.data() + 2 * i);
    return bytes;
}

// The key under which two names are the same name: simple case folding, code point by
// code point, as QString::compare with Qt::CaseInsensitive compares them.
QString FoldedName(const QString &name)
{
    QString folded;
    folded.reserve(name.size());
    for (char32_t c : QStringView(name).toUcs4()) {
        const char32_t f = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(f)) {
            folded += QChar(QChar::highSurrogate(f));
            folded += QChar(QChar::lowSurrogate(f));
        } else {
            folded += QChar(char16_t(f));
        }
    }
    return folded;
}

// The names of the album being named, folded, so that making a name unique costs as
// little for the 200000th picture as for the second (a scan of the list per picture, and
// one per counter tried, made large albums of like descriptions take hours). A cache of
// the DownloadList's file names on the naming thread: rebuilt whenever it does not match
// the list it was built for. Beside them, the files the album folder held when the album
// started, each with the picture the download archive says it holds.
struct NameIndex {
    const DownloadList *list = nullptr;
    qsizetype count = -1;
    QString first, last;
    QSet<QString> folded;
    QHash<QString, uint> nextCounter; // duplicate base + "/" + extension -> first counter
                                      // that is not a name of this run
    QHash<QString, QString> onDisk;   // folded file name -> address of its picture (empty:
                                      // not a picture of this album's archive)

    void sync(const DownloadList &l)
    {
        const QStringList &names = l.fileNames;
        if (list == &l && count == names.size()
            && (count == 0 || (first == names.first() && last == names.last())))
            return;
        list = &l;
        folded.clear();
        nextCounter.clear();
        for (const QString &name : names)
            folded.insert(FoldedName(name));
        count = names.size();
        first = names.isEmpty() ? QString() : names.first();
        last = names.isEmpty() ? QString() : names.last();
    }
    void readFolder(const QString &folder, const DownloadArchive &archive)
    {
        onDisk.clear();
        const QHash<QString, QString> owners = archive.Files();
        // Broken links too (System): whatever stands at a name is never written through.
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &file : files) {
            const QString key = FoldedName(file);
            const QString owner = owners.value(file);
            const auto it = onDisk.constFind(key);
            if (it == onDisk.cend())
                onDisk.insert(key, owner);
            else if (*it != owner)
                onDisk.insert(key, QString()); // two files of one name but for the case
        }
    }
    bool takenByRun(const QString &name) const { return folded.contains(FoldedName(name)); }
    // Taken for the picture at `address`: a name of this run, or a file of the folder
    // that is not this very picture saved by an earlier run.
    bool taken(const QString &name, const QString &address) const
    {
        const QString key = FoldedName(name);
        if (folded.contains(key))
            return true;
        const auto it = onDisk.constFind(key);
        return it != onDisk.cend() && (it->isEmpty() || *it != address);
    }
    void add(const QString &name)
    {
        folded.insert(FoldedName(name));
        if (++count == 1)
            first = name;
        last = name;
    }
};

thread_local NameIndex t_names;

} // namespace

void AddPicture(AppState &app, WindowServices &w, const QString &address,
                const QString &description, const QString &headerText, int albumIndex)
{
    const ST_SAVESET set = app.SaveSet();
    const ST_PERLISTRECORD r = app.albums.at(albumIndex);
    DownloadList &list = app.downloads;
    NameIndex &names = t_names;
    const QString albumNumber = QString::number(qint64(r.nIndex) + 1);
    const QString albumNumber4 = QStringLiteral("%1").arg(qint64(r.nIndex) + 1, 4, 10, QChar(u'0'));

    // The album folder is decided with the album's first pin.
    if (!list.folderDecided) {
        list.folderDecided = true;
        list.firstPin = address;
        QString folderName = set.byFolderName == 0 ? r.strName : QString();
        folderName = FieldText(set.szFolderPrefix) + folderName + FieldText(set.szFolderSuffix);
        folderName.replace(QStringLiteral("?1"), r.strName);
        folderName.replace(QStringLiteral("?3"), albumNumber);
        folderName.replace(QStringLiteral("?9"), albumNumber4);
        CleanName(folderName, false);
        QString folder = list.folder();
        folderName = app.profile.Unclaimed(folder, FitFolderName(folderName));
        if (!folderName.isEmpty()) {
            folder += folderName + Separator();
            list.setFolder(folder);
        }
        // One level: the run has made the base folder. A failure shows up as failed saves.
        QDir().mkdir(folder);
        // Temporary files of a run that was killed while writing into this album; those
        // of another run writing into it now stay.
        RemoveStaleTempFiles(folder);
        SetFolderTimes(folder, QDateTime::currentSecsSinceEpoch());
        app.strLastPicture = ReadLastPictureMark(folder);
        app.archive.Open(folder);
        names.readFolder(folder, app.archive);
    }

    if (set.wOptions & OPT_SKIP_DOWNLOADED) {
        if (!app.strLastPicture.isEmpty() && address == app.strLastPicture) {
            // Ended early, unless a stop request came first: that one stays.
            SetUnlessStopped(app.DownState, 2, 3);
            return;
        }
        // Saved by an earlier run: not downloaded, not named. It keeps its place in the
        // numbering, so a picture fetched again after a failure gets its number back.
        if (app.archive.SavedBefore(address)) {
            ++list.skipped;
            return;
        }
    }

    const QString num = QString::number(list.pinsMet() + 1);

    // Base name. A description is always an ordinary name, even when it looks like an
    // absolute path: nothing is ever saved outside the album folder.
    QString name;
    switch (set.byNameBase) {
    case 0:
        name = description;
        CleanName(name, false);
        if (name.isEmpty())
            name = r.strName;
        break;
    case 2: {
        const qsizetype slash = address.lastIndexOf(u'/');
        name = slash > 0 ? address.mid(slash + 1) : num;
        break;
    }
    default:
        name = num;
        break;
    }

    name = FieldText(set.szPrefix) + name + FieldText(set.szSuffix);

    // In table order; text put in by one code is open to the codes after it.
    name.replace(QStringLiteral("?1"), r.strName);
    name.replace(QStringLiteral("?2"), num);
    name.replace(QStringLiteral("?3"), albumNumber);
    name.replace(QStringLiteral("?4"), QString::number(qint32(r.nNum1)));
    name.replace(QStringLiteral("?5"), QString::number(qint32(r.nNum2)));
    name.replace(QStringLiteral("?6"), QString::number(app.albums.chosen()));
    name.replace(QStringLiteral("?7"), QString::number(app.albums.count()));
    name.replace(QStringLiteral("?8"), app.source.strUserFolder);
    name.replace(QStringLiteral("?9"), albumNumber4);

    const QString replaceWhat = FieldText(set.szReplaceWhat);
    if (!replaceWhat.isEmpty())
        ReplaceEach(name, replaceWhat, FieldText(set.szReplaceWith));

    CleanName(name, true);
    if (IsReservedName(name))
        name.prepend(u'_');
    const QString duplicateBase = name;

#ifdef Q_OS_WIN
    // The path budget of Windows: folder and name within 250 units. POSIX has none; there
    // FitName keeps each name within 255 bytes.
    name = CutUnits(name, PATH_UNITS - list.folder().size());
#endif

    QString ext = QStringLiteral(".jpg");
    if (HasPictureExtension(name)) {
        const qsizetype dot = name.lastIndexOf(u'.');
        ext = name.mid(dot);
        name.truncate(dot);
    }
    name = FitName(name, {}, ext);

    names.sync(list);
    if (names.taken(name + ext, address)) {
        // The counter goes after the uncut name, picture extension included. Names are
        // only ever added, so the counters below `next` are all names of this run still;
        // files of the folder may take further ones, but not for every picture.
        const auto counted = [&](uint k) { return FitName(duplicateBase, QStringLiteral("(%1)").arg(k), ext); };
        uint &next = names.nextCounter[duplicateBase + u'/' + ext];
        uint k = std::max(next, 1u);
        while (names.takenByRun(counted(k) + ext))
            ++k;
        next = k;
        while (names.taken(counted(k) + ext, address))
            ++k;
        name = counted(k);
    }

    const QString fileName = name + ext;

    list.addresses.append(address);
    list.fileNames.append(fileName);
    list.headers.append(headerText);
    list.descriptions.append(description);
    names.add(fileName);

    w.SetProgressText(Texts::tr("已获取到%n张图片信息", nullptr, int(list.addresses.size())), ReportKind::Collected);
}

bool HasPictureExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    static const QStringList known = {
        QStringLiteral(".jpeg"), QStringLiteral(".jpg"), QStringLiteral(".bmp"), QStringLiteral(".gif"),
        QStringLiteral(".png"),  QStringLiteral(".tif"), QStringLiteral(".webp"), QStringLiteral(".avif"),
        QStringLiteral(".jfif"), QStringLiteral(".heic"),
    };
    return known.contains(name.mid(dot), Qt::CaseInsensitive);
}

QString ReadLastPictureMark(const QString &folder)
{
    QFile file(folder + QStringLiteral("pic.kzv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    QString line;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t u = qFromLittleEndian<quint16>(bytes.constData() + i);
        if (u == u'\n')
            break;
        line.append(QChar(u));
    }
    return line;
}

bool MakeFolderPath(QString &path, WindowServices &w)
{
    const QChar sep = Separator();
    path = TrimWide(QDir::toNativeSeparators(path));
    if (!path.endsWith(sep))
        path += sep;

    qsizetype scan = 0;
#ifdef Q_OS_WIN
    if (path.startsWith(sep))
        path.remove(0, 1);
    const qsizetype drive = path.indexOf(QStringLiteral(":\\"));
    if (drive >= 1)
        scan = drive + 2;
#else
    // The root of an absolute path exists; start below it.
    while (scan < path.size() && path.at(scan) == sep)
        ++scan;
#endif

    for (;;) {
        const qsizetype next = path.indexOf(sep, scan);
        if (next <= 0)
            return true;
        const QString level = path.left(next);
        const QFileInfo info(level);
        // A file in the way is as much a failure as a folder that cannot be made.
        if (info.exists() ? !info.isDir() : !QDir().mkdir(level)) {
            w.ShowMessage(level);
            return false;
        }
        scan = next + 1;
    }
}

void SetFolderTimes(const QString &path, qint64 t)
{
    if (t > 0)
        Platform::SetPathTimes(path, t);
}

void SetFileTimes(const QString &path, qint64 t)
{
    if (t > 0)
        Platform::SetPathTimes(path, t);
}

QString HeifBrandExtension(const QByteArray &head)
{
    if (head.size() < 16 || head.mid(4, 4) != "ftyp")
        return {};
    const qint64 boxSize = qFromBigEndian<quint32>(head.constData());
    const qsizetype end = qsizetype(std::min<qint64>(boxSize, head.size()));
    // The major brand, then the compatible brands after the minor version.
    QList<QByteArray> brands{head.mid(8, 4)};
    for (qsizetype i = 16; i + 4 <= end; i += 4)
        brands << head.mid(i, 4);
    static const QList<QByteArray> heic = {"heic", "heix", "heim", "heis", "hevc", "hevx"};
    // The major brand decides; a generic one (mif1, msf1) lets the compatible brands tell.
    for (const QByteArray &brand : brands) {
        if (brand == "avif" || brand == "avis")
            return QStringLiteral(".avif");
        if (heic.contains(brand))
            return QStringLiteral(".heic");
    }
    return {};
}

bool DetectPictureType(QString &path)
{
    if (!QFileInfo::exists(path))
        return false;

    // The extension is looked for in the file's own name, never in a folder above it.
    const qsizetype nameStart = path.lastIndexOf(Separator()) + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    const qsizetype split = dot >= nameStart ? dot : path.size();
    const QString base = path.left(split);
    QString ext = path.mid(split);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The ftyp box of an ISO media file lists its brands; a few dozen bytes hold them.
    const QByteArray head = file.read(64);
    file.close();
    unsigned char b[7] = {};
    std::memcpy(b, head.constData(), size_t(std::min<qsizetype>(head.size(), sizeof b)));

    if (head.size() >= 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        ext = QStringLiteral(".webp");
    else if (const QString brand = HeifBrandExtension(head); !brand.isEmpty())
        ext = brand;
    else if (b[0] == 0xFF && b[1] == 0xD8)
        ext = QStringLiteral(".jpg");
    else if (b[0] == 0x89 && b[1] == 0x50)
        ext = QStringLiteral(".png");
    else if (b[0] == 0x47 && b[1] == 0x49 && b[2] == 0x46)
        ext = QStringLiteral(".gif");
    else if (b[0] == 0x42 && b[1] == 0x4D)
        ext = QStringLiteral(".bmp");
    else if (b[0] == 0 && b[1] == 0 && b[3] == 0 && b[4] == 0 && (b[2] == 2 || b[2] == 16))
        ext = QStringLiteral(".tga");
    else if (b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0 && b[4] == 1)
        ext = QStringLiteral(".ico");
    else if (b[0] == 0 && b[1] == 0 && b[2] == 2 && b[3] == 0 && b[4] == 1)
        ext = QStringLiteral(".cur");
    else if (b[0] == 0x4D && b[1] == 0x4D)
        ext = QStringLiteral(".tiff");
    else if (b[0] == 0x49 && b[1] == 0x49)
        ext = QStringLiteral(".tiff");

    const QString renamed = base + ext;
    if (renamed == path)
        return true;
    // QFile::rename never replaces an existing file: another picture keeps its name.
    if (!QFile::rename(path, renamed))
        return false;
    path = renamed;
    return true;
}

void FixPictureFormat(AppState &app)
{
    DownloadList &list = app.downloads;
    const QString folder = list.folder();
    for (qsizetype i = 0; i < list.fileNames.size(); ++i) {
        QString &entry = list.fileNames[i];
        QString path = folder + entry;
        DetectPictureType(path);
        const QString renamed = path.mid(path.lastIndexOf(Separator()) + 1);
        // The archive follows a saved picture to its new name.
        if (renamed != entry && app.archive.AddressOf(entry) == list.addresses.value(i))
            app.archive.Record(list.addresses.value(i), renamed);
        entry = renamed;
    }
}

void FixPictureOrder(AppState &app)
{
    const DownloadList &list = app.downloads;
    const QString folder = list.folder();
    qint64 t = QDateTime::currentSecsSinceEpoch();
    for (const QString &entry : list.fileNames) {
        SetFileTimes(folder + entry, t);
        t -= 60;
    }
}

QString FitFolderLevel(const QString &name)
{
    return FitFolderName(name);
}

QString AlbumFilePath(const Profile &profile, const QString &folder, const QString &albumName, const QString &extension)
{
    return folder + profile.Unclaimed(folder, FitName(WithoutSeparators(albumName), {}, extension) + extension);
}

bool WriteNamesFile(const QString &path, const QStringList &lines, bool keepEarlier, QString *error)
{
    QByteArray bytes("\xFF\xFE", 2);
    for (const QString &line : lines)
        bytes += Utf16Le(line + QStringLiteral("\r\n"));
    // The earlier lines, as they are. A link at the name is not read: it is replaced.
    const QFileInfo info(path);
    if (keepEarlier && info.isFile() && !info.isSymLink()) {
        QFile earlier(path);
        if (!earlier.open(QIODevice::ReadOnly)) {
            if (error)
                *error = earlier.errorString();
            return false; // rewriting it without them would lose them
        }
        QByteArray old = earlier.readAll();
        if (old.startsWith("\xFF\xFE"))
            old.remove(0, 2);
        bytes += old;
    }
    return SaveFileAtomically(path, bytes, false, error);
}
