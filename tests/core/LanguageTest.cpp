// The program's languages: which one a start chooses, that the English translation
// covers every source text of src/ and keeps its placeholders, and that the core's
// reports come out in English while the English translation is installed, and that a failed
// picture's reason reads in the window's language.
#include "CoreFixture.h"
#include "core/Language.h"
#include "net/Reasons.h"
#include "source/ChangeSource.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <memory>

namespace {

TEST(Language, TheOptionThenTheEnvironmentThenTheSystemChoose)
{
    const QStringList german{QStringLiteral("de-DE"), QStringLiteral("de")};
    const QStringList germanThenEnglish{QStringLiteral("de-DE"), QStringLiteral("en-GB"), QStringLiteral("zh-CN")};
    const QStringList taiwan{QStringLiteral("zh-TW"), QStringLiteral("en-US")};
    const struct {
        const char *what;
        QString option, environment;
        QStringList system;
        Language language;
        bool error, warning;
    } cases[] = {
        {"nothing asked: Chinese", {}, {}, {QStringLiteral("C")}, Language::Chinese, false, false},
        {"a system without either language: Chinese", {}, {}, german, Language::Chinese, false, false},
        {"the first of the system's languages Corvadin has", {}, {}, germanThenEnglish, Language::English, false, false},
        {"any Chinese is the simplified Chinese", {}, {}, taiwan, Language::Chinese, false, false},
        {"locale-style names", {}, QStringLiteral("en_US.UTF-8"), german, Language::English, false, false},
        {"the environment before the system", {}, QStringLiteral("zh"), germanThenEnglish, Language::Chinese, false, false},
        {"the option before the environment", QStringLiteral("EN"), QStringLiteral("zh_CN"), {}, Language::English, false, false},
        {"the option before the system", QStringLiteral("zh-Hans-CN"), {}, germanThenEnglish, Language::Chinese, false, false},
        {"an unknown option is an error", QStringLiteral("fr"), QStringLiteral("en"), {}, Language::Chinese, true, false},
        {"an unknown environment value is passed over", {}, QStringLiteral("klingon"), germanThenEnglish, Language::English, false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const LanguageChoice choice = ChooseLanguage(c.option, c.environment, c.system);
        EXPECT_EQ(choice.language, c.language);
        EXPECT_EQ(!choice.error.isEmpty(), c.error) << choice.error.toStdString();
        EXPECT_EQ(!choice.warning.isEmpty(), c.warning) << choice.warning.toStdString();
    }
    EXPECT_TRUE(ChooseLanguage(QStringLiteral("fr"), {}, {}).error.contains(QStringLiteral("'fr'")));
}

// One message of a .ts file.
struct TsMessage {
    QString context, source, type; // type: "", "unfinished", "vanished", "obsolete"
    QStringList translations;      // one, or one per plural form
};

QList<TsMessage> ReadTs(const QString &file)
{
    QList<TsMessage> messages;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&f);
    QString context;
    TsMessage m;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            m = TsMessage{context, {}, {}, {}};
        } else if (name == QLatin1String("source")) {
            m.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            m.type = xml.attributes().value(QLatin1String("type")).toString();
            // Either text, or one numerusform per plural form.
            QString text;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isCharacters())
                    text += xml.text();
                else if (xml.isStartElement() && xml.name() == QLatin1String("numerusform"))
                    m.translations << xml.readElementText();
                else if (xml.isEndElement() && xml.name() == QLatin1String("translation"))
                    break;
            }
            if (m.translations.isEmpty())
                m.translations << text;
            messages << m;
        }
    }
    return xml.hasError() ? QList<TsMessage>() : messages;
}

// The placeholders a text carries, each once: %1 ... %99 and %n.
QStringList Placeholders(const QString &text)
{
    static const QRegularExpression placeholder(QStringLiteral("%(\\d+|n)"));
    QStringList found;
    for (auto it = placeholder.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    found.removeDuplicates();
    return found;
}

// The keyboard mnemonics of a menu text ("&L"; "&&" is a plain ampersand).
int Mnemonics(const QString &text)
{
    return int(text.count(QRegularExpression(QStringLiteral("&[^&\\s]")))) - int(text.count(QLatin1String("&&")));
}

QString Describe(const TsMessage &m)
{
    return m.context + QStringLiteral(": \"") + m.source + QLatin1Char('"');
}

// lupdate reads src/ as `cmake --build build --target update_translations` does (the
// options of CMakeLists.txt, but keeping what is gone from the code, to see it) into a
// copy of the committed .ts. Every text must have its English, and nothing may be left
// of texts the code no longer has.
TEST(Language, TheEnglishTranslationCoversEverySourceText)
{
    Sandbox sandbox;
    const QString ts = sandbox.path() + QStringLiteral("corvadin_en.ts");
    ASSERT_TRUE(QFile::copy(QStringLiteral(CORVADIN_SOURCE_DIR "/translations/corvadin_en.ts"), ts));
    QFile(ts).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(CORVADIN_LUPDATE_PATH),
                  {QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-source-language"),
                   QStringLiteral("zh_CN"), QStringLiteral("-target-language"), QStringLiteral("en"),
                   QStringLiteral(CORVADIN_SOURCE_DIR "/src"), QStringLiteral("-ts"), ts});
    ASSERT_TRUE(lupdate.waitForFinished(120000));
    const QString log = QString::fromUtf8(lupdate.readAll());
    ASSERT_EQ(lupdate.exitCode(), 0) << log.toStdString();
    // lupdate warns about a tr() it cannot place (no context): its text would never be
    // translated.
    EXPECT_FALSE(log.contains(QStringLiteral("cannot be called without context"))) << log.toStdString();

    const QList<TsMessage> messages = ReadTs(ts);
    ASSERT_GT(messages.size(), 150);
    QStringList untranslated, stale, wrong;
    for (const TsMessage &m : messages) {
        if (m.type == QLatin1String("vanished") || m.type == QLatin1String("obsolete")) {
            stale << Describe(m);
            continue;
        }
        if (m.type == QLatin1String("unfinished") || m.translations.contains(QString())) {
            untranslated << Describe(m);
            continue;
        }
        for (const QString &t : m.translations) {
            if (Placeholders(t) != Placeholders(m.source))
                wrong << Describe(m) + QStringLiteral(" -> \"") + t + QStringLiteral("\" (placeholders)");
            if (Mnemonics(t) != Mnemonics(m.source))
                wrong << Describe(m) + QStringLiteral(" -> \"") + t + QStringLiteral("\" (keyboard mnemonic)");
            if (t.count(QLatin1Char('\n')) != m.source.count(QLatin1Char('\n')) && !m.source.contains(QStringLiteral("?1:")))
                wrong << Describe(m) + QStringLiteral(" -> \"") + t + QStringLiteral("\" (line breaks)");
        }
    }
    EXPECT_TRUE(untranslated.isEmpty()) << "texts without English (update and translate translations/corvadin_en.ts):\n"
                                        << untranslated.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(stale.isEmpty()) << "translations of texts the code no longer has (update_translations drops them):\n"
                                 << stale.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(QLatin1Char('\n')).toStdString();
}

// The core has no application object of its own in these tests; a translator needs one.
class EnglishRun : public CoreFixture {
protected:
    void SetUp() override
    {
        application = std::make_unique<QCoreApplication>(argc, argv);
        CoreFixture::SetUp();
    }
    void TearDown() override
    {
        CoreFixture::TearDown();
        application.reset();
    }

    int argc = 1;
    char name[16] = "core_tests";
    char *argv[2] = {name, nullptr};
    std::unique_ptr<QCoreApplication> application;
};

// The session's reasons are fixed English words (the CLI and --json print them). The window
// shows them in its language: in Chinese its own words, in English the session's words
// again, letter for letter, so the two front ends never disagree.
TEST_F(EnglishRun, AFailedPicturesReasonReadsInTheWindowsLanguage)
{
    struct Case {
        const char *reason;
        const char *chinese;
    };
    const Case cases[] = {
        {"timed out", "超时"},
        {"too slow", "传输过慢"},
        {"connection reset", "连接被重置"},
        {"too many redirects", "重定向过多"},
        {"not a picture (text/html)", "不是图片（网站答复了网页）"},
        {"file not written", "文件写入失败"},
        {"file not written: No space left on device", "文件写入失败：No space left on device"},
        {"HTTP 429 (asked to wait 3600 s)", "HTTP 429（网站要求等待 3600 秒）"},
        {"HTTP 404", "HTTP 404"},
        {"SSL connect error", "SSL connect error"}, // libcurl's own words: shown as they are
    };
    for (const Case &c : cases)
        EXPECT_EQ(ReasonText(QString::fromUtf8(c.reason)), QString::fromUtf8(c.chinese)) << c.reason;

    const InstalledLanguage english(Language::English, {});
    for (const Case &c : cases)
        EXPECT_EQ(ReasonText(QString::fromUtf8(c.reason)), QString::fromUtf8(c.reason)) << c.reason;
}

TEST_F(EnglishRun, TheCoresReportsComeInEnglishWhileItsTranslationIsInstalled)
{
    {
        const InstalledLanguage english(Language::English, {});
        EXPECT_TRUE(english.missing().isEmpty()) << english.missing().join(QLatin1Char(' ')).toStdString();
        retrieveAndRun(site.boardUrl(QStringLiteral("1001")));
        ASSERT_EQ(app->Summary().saved, 45);
        // The phase and progress lines the run threads wrote.
        EXPECT_TRUE(w->Phases().contains(QStringLiteral("Album list fetched: 1 album"))) << w->Phases().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(w->Phases().contains(QStringLiteral("Downloading album 1/1")));
        EXPECT_TRUE(w->Progress().contains(QStringLiteral("Found 45 pictures")));
        EXPECT_TRUE(w->Progress().contains(QStringLiteral("Downloading pictures...")));
        EXPECT_EQ(w->Progress().filter(QStringLiteral("Downloaded")).last(), QStringLiteral("Downloaded 45/45..."));
        EXPECT_EQ(w->Captions().last(), QStringLiteral("Albums (1)"));
        // How a run ended, with its plural forms.
        RunSummary s;
        s.failed = 1;
        EXPECT_EQ(RunEndText(s), QStringLiteral("Download complete, 1 picture failed"));
        s.failed = 3;
        s.writeFailures = {QStringLiteral("a"), QStringLiteral("b")};
        EXPECT_EQ(RunEndText(s), QStringLiteral("Download complete, 3 pictures failed, 2 files not written"));
        s.warnings.append(PictureOutcome{});
        EXPECT_EQ(RunEndText(s), QStringLiteral("Download complete, 3 pictures failed, 2 files not written, "
                                                "1 picture cut short on the site itself"));
        s.stopped = true;
        EXPECT_EQ(RunEndText(s), QStringLiteral("Download stopped"));
        // A message the core shows.
        w->savePath.clear();
        ASSERT_TRUE(DownloadCommand(*app, *w));
        ASSERT_TRUE(waitFor([&] { return app->DownState == 0; }, std::chrono::seconds(10)));
        JoinFinished(*app);
        EXPECT_EQ(w->Messages().last(), QStringLiteral("Set a save folder first."));
    }
    // Without it, the source texts again.
    RunSummary s;
    s.failed = 3;
    EXPECT_EQ(RunEndText(s), QStringLiteral("下载完毕，3张失败"));
}

} // namespace
