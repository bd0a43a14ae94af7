// LoadSettings of arbitrary soft.dat bytes: the corrections hold for every site mode,
// every other byte is kept, the file is left as it was, loading again changes nothing,
// and saving one change writes the whole corrected image with that change.
#include "FuzzSupport.h"

#include "settings/SoftData.h"

#include <QFile>
#include <cstring>

namespace {

QByteArray Image(const ST_SOFTDATA &data)
{
    return QByteArray(reinterpret_cast<const char *>(&data), sizeof data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = fuzz::SandboxFolder();
    const QString path = folder + QStringLiteral("soft.dat");
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }

    ST_SOFTDATA loaded;
    LoadSettings(loaded, folder);

    // What the file held, padded with zeros (a short file leaves the tail zero).
    ST_SOFTDATA expected;
    std::memset(&expected, 0, sizeof expected);
    std::memcpy(&expected, data, std::min(size, sizeof expected));
    for (int mode = 0; mode < SITE_MODE_COUNT; ++mode) {
        const ST_DOWNSET &d = loaded.DownSet[mode];
        FUZZ_CHECK(d.wThreads >= 1 && d.wThreads <= 15);
        FUZZ_CHECK(d.wTimeout >= 10);
        ST_DOWNSET &e = expected.DownSet[mode];
        if (e.wThreads == 0 || e.wThreads > 15)
            e.wThreads = 5;
        if (e.wTimeout < 10)
            e.wTimeout = 30;
    }
    FUZZ_CHECK(Image(loaded) == Image(expected));

    const auto fileBytes = [&] {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    FUZZ_CHECK(fileBytes() == QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    ST_SOFTDATA again;
    LoadSettings(again, folder);
    FUZZ_CHECK(Image(again) == Image(loaded));

    ST_SOFTDATA changed = loaded;
    changed.DownSet[SITE_MODE_BOARD].wMaxKB = uint16_t(changed.DownSet[SITE_MODE_BOARD].wMaxKB + 1);
    FUZZ_CHECK(SaveSettingsChanges(changed, loaded, folder));
    FUZZ_CHECK(fileBytes() == Image(changed));
    FUZZ_CHECK(Image(loaded) == Image(changed));

    // The history of the file takes a new entry without reading past its fields.
    const QString entry = QStringLiteral("http://127.0.0.1/boards/%1/").arg(size);
    if (RememberText(loaded.AddressHistory, entry))
        FUZZ_CHECK(FieldText(loaded.AddressHistory[0]) == entry);
    for (const auto &text : loaded.SaveSet)
        FUZZ_CHECK(FieldText(text.szPrefix).size() <= SAVESET_TEXT_UNITS);
    return 0;
}
