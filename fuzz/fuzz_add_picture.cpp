// The naming step with arbitrary descriptions, addresses, album and owner names and
// naming settings (the texts as soft.dat may hold them), on a sandbox folder. Every
// made name must be one safe level inside the album folder, and the album folder one
// safe level inside the base folder.
#include "FuzzSupport.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "download/FileNaming.h"
#include "source/ChangeSource.h"
#include "text/StringCtrl.h"

#include <QFile>
#include <memory>

namespace {

AppState &App()
{
    static const std::unique_ptr<AppState> app = [] {
        auto a = std::make_unique<AppState>(fuzz::SandboxFolder() + QStringLiteral("work"));
        QDir().mkpath(a->profile.configFolder());
        return a;
    }();
    return *app;
}

// A fixed-size field of soft.dat: up to its full size of arbitrary units, zero after.
template <int N> void FillField(char16_t (&field)[N], FuzzedDataProvider &p)
{
    const QString text = fuzz::TakeText(p, N);
    std::fill(field, field + N, u'\0');
    std::copy_n(reinterpret_cast<const char16_t *>(text.utf16()), std::min<qsizetype>(text.size(), N), field);
}

// The base folder of the run: the sandbox and a chosen number of filler units, so the
// 250-unit rule meets folders of every length.
QString BaseFolder(int filler)
{
    QString base = fuzz::SandboxFolder() + QStringLiteral("save") + QDir::separator();
    if (filler > 0)
        base += QString(filler, u'f') + QDir::separator();
    QDir().mkpath(base);
    return base;
}

QString Extension(const QString &fileName)
{
    return fileName.mid(fileName.lastIndexOf(u'.'));
}

// The album folder: the base folder, or one safe level below it.
void CheckAlbumFolder(const QString &folder, const QString &base)
{
    FUZZ_CHECK_TEXT(folder.startsWith(base) && folder.endsWith(QDir::separator()), folder);
    if (folder != base) {
        const QString level = folder.sliced(base.size()).chopped(1);
        FUZZ_CHECK_TEXT(fuzz::IsSafeName(level), level);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    AppState &app = App();
    WindowServices w;

    ST_SAVESET set{};
    FillField(set.szPrefix, p);
    FillField(set.szSuffix, p);
    FillField(set.szReplaceWhat, p);
    FillField(set.szReplaceWith, p);
    FillField(set.szFolderPrefix, p);
    FillField(set.szFolderSuffix, p);
    set.wOptions = p.ConsumeIntegral<uint16_t>() & (OPT_NAMES_FILE | OPT_SKIP_DOWNLOADED);
    set.byNameBase = p.ConsumeIntegralInRange<uint8_t>(0, 3);
    set.byFolderName = p.ConsumeIntegralInRange<uint8_t>(0, 1);
    {
        std::lock_guard lock(app.settingsMutex);
        app.settings.SaveSet[SITE_MODE_BOARD] = set;
    }

    // Albums and the owner as the board reader leaves them.
    app.albums.clear();
    const int albums = p.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < albums; ++i) {
        ST_PERLISTRECORD r;
        r.strName = fuzz::TakeText(p, 120);
        r.nNum1 = p.ConsumeIntegral<uint32_t>();
        r.nNum2 = p.ConsumeIntegral<uint32_t>();
        AddAlbumRecord(app.albums, r);
    }
    app.albums.setChosen(p.ConsumeIntegralInRange<int>(0, albums));
    const int albumIndex = p.ConsumeIntegralInRange<int>(0, albums - 1);
    QString owner = fuzz::TakeText(p, 64);
    CleanFileName(owner, true);
    NormaliseOwnerFolder(owner);
    app.source.strUserFolder = owner;

    const QString base = BaseFolder(p.ConsumeIntegralInRange<int>(0, 240));
    app.downloads.reset(base);
    app.DownState = 1;

    const int pictures = p.ConsumeIntegralInRange<int>(1, 6);
    for (int k = 0; k < pictures && app.DownState == 1; ++k) {
        const QString address = fuzz::TakeText(p, 160);
        const QString description = fuzz::TakeText(p, 400);
        const qsizetype before = app.downloads.addresses.size();
        // As if the album's mark file named this picture (read with the first picture).
        if (before > 0 && p.ConsumeBool())
            app.strLastPicture = address;
        AddPicture(app, w, address, description, QString(), albumIndex);

        const DownloadList &list = app.downloads;
        FUZZ_CHECK(list.addresses.size() == list.fileNames.size() && list.fileNames.size() == list.headers.size());
        const bool skip = (set.wOptions & OPT_SKIP_DOWNLOADED) && !app.strLastPicture.isEmpty()
                       && address == app.strLastPicture;
        FUZZ_CHECK((app.DownState == 2) == skip);
        if (app.DownState == 2) {
            FUZZ_CHECK(list.addresses.size() == before);
            break;
        }
        FUZZ_CHECK(list.addresses.size() == before + 1);

        const QString folder = list.folder();
        CheckAlbumFolder(folder, base);
        const QString fileName = list.fileNames.last();
        FUZZ_CHECK_TEXT(fuzz::IsSafeName(fileName), fileName);
        FUZZ_CHECK_TEXT(QDir::cleanPath(folder + fileName) == folder + fileName, fileName);
        // The first name is never cut to nothing (a hidden ".jpg"), however long the
        // folder. On Windows the folder and the name before the extension keep to 250
        // units, a cut keeping at least the first character (a reserved name's "_" may add
        // one); elsewhere only a name's 255 bytes bound it (IsSafeName). Duplicates add
        // their counter after the uncut name.
        if (before == 0) {
            const qsizetype stem = fileName.size() - Extension(fileName).size();
            FUZZ_CHECK_TEXT(stem > 0, fileName);
#ifdef Q_OS_WIN
            FUZZ_CHECK_TEXT(stem <= std::max<qsizetype>(2, 250 - folder.size()) + 1, fileName);
#endif
        }
        // Unique within the album, ignoring case.
        for (qsizetype i = 0; i + 1 < list.fileNames.size(); ++i)
            FUZZ_CHECK_TEXT(list.fileNames.at(i).compare(fileName, Qt::CaseInsensitive) != 0, fileName);
    }

    // Leave the sandbox as it was: the album folder (with its names file) goes, or the
    // names file when the pictures went into the base folder itself.
    const QString folder = app.downloads.folder();
    CheckAlbumFolder(folder, base);
    if (folder != base)
        QDir(folder).removeRecursively();
    else
        for (const QString &file : QDir(base).entryList(QDir::Files | QDir::Hidden))
            QFile::remove(base + file);
    return 0;
}
