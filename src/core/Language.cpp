#include "core/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace Languages {

std::optional<Language> FromName(const QString &name)
{
    // The language part: "zh" of "zh_CN.UTF-8", "zh-Hans-CN".
    const QString code = name.trimmed().section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0)
                             .replace(QLatin1Char('-'), QLatin1Char('_')).section(QLatin1Char('_'), 0, 0).toLower();
    if (code == QLatin1String("zh"))
        return Language::Chinese;
    if (code == QLatin1String("en"))
        return Language::English;
    return std::nullopt;
}

QString Code(Language language)
{
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

Language FromSystem(const QStringList &uiLanguages)
{
    for (const QString &name : uiLanguages) {
        if (const auto language = FromName(name))
            return *language;
    }
    return Language::Chinese;
}

} // namespace Languages

LanguageChoice ChooseLanguage(const QString &option, const QString &environment, const QStringList &uiLanguages)
{
    LanguageChoice choice;
    if (!option.isEmpty()) {
        if (const auto language = Languages::FromName(option))
            choice.language = *language;
        else
            choice.error = QStringLiteral("--language must be zh (Chinese) or en (English), not '%1'").arg(option);
        return choice;
    }
    if (!environment.trimmed().isEmpty()) {
        if (const auto language = Languages::FromName(environment)) {
            choice.language = *language;
            return choice;
        }
        choice.warning = QStringLiteral("CORVADIN_LANGUAGE=%1 is neither zh nor en; the system's language decides")
                             .arg(environment);
    }
    choice.language = Languages::FromSystem(uiLanguages);
    return choice;
}

LanguageChoice ChooseLanguage(const QString &option)
{
    return ChooseLanguage(option, qEnvironmentVariable("CORVADIN_LANGUAGE"), QLocale::system().uiLanguages());
}

InstalledLanguage::InstalledLanguage(Language language, const QStringList &qtCatalogues) : m_language(language)
{
    const auto install = [this](std::unique_ptr<QTranslator> translator) {
        QCoreApplication::installTranslator(translator.get());
        m_translators.push_back(std::move(translator));
    };
    // Chinese is the program's own text; English comes with the core.
    if (language == Language::English) {
        auto own = std::make_unique<QTranslator>();
        if (own->load(QStringLiteral(":/i18n/corvadin_en.qm")))
            install(std::move(own));
        else
            m_missing << QStringLiteral("corvadin_en");
    }
    // Qt's own texts (buttons of its message boxes, its file dialogs, the browser's
    // context menu) in the same language; the simplified Chinese ones for Chinese.
    const QString suffix = language == Language::English ? QStringLiteral("en") : QStringLiteral("zh_CN");
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString &catalogue : qtCatalogues) {
        auto qt = std::make_unique<QTranslator>();
        if (qt->load(catalogue + QLatin1Char('_') + suffix, folder))
            install(std::move(qt));
        else
            m_missing << catalogue;
    }
}

InstalledLanguage::~InstalledLanguage()
{
    for (const auto &translator : m_translators)
        QCoreApplication::removeTranslator(translator.get());
}
