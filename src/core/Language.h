// The language of every text a person reads: Chinese, the source texts, or English, from
// translations/corvadin_en.ts (built into the core as :/i18n/corvadin_en.qm).
//
// Which one: --language (each program passes its option's value), else the environment
// variable CORVADIN_LANGUAGE, else the first of the system's UI languages that Corvadin
// has (QLocale::system().uiLanguages(): LANGUAGE, LC_ALL, LC_MESSAGES, LANG), else
// Chinese. Any "zh..." name means Chinese (the texts are simplified Chinese), any
// "en..." name English.
//
// Texts below the window are translated with QCoreApplication::translate (through
// Q_DECLARE_TR_FUNCTIONS), which any thread may call; the translators are installed once
// on the main thread before the run threads start.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class QTranslator;

enum class Language { Chinese, English };

namespace Languages {
// "zh", "zh_CN", "zh-Hans-CN", "en", "en_GB" ... (letter case aside); nullopt for a
// language Corvadin does not have.
std::optional<Language> FromName(const QString &name);
// "zh" or "en".
QString Code(Language language);
// The first of the user's UI languages that Corvadin has; Chinese when there is none.
Language FromSystem(const QStringList &uiLanguages);
} // namespace Languages

struct LanguageChoice {
    Language language = Language::Chinese;
    QString error;   // the option names no language Corvadin has: a usage error
    QString warning; // CORVADIN_LANGUAGE names none: it is ignored
};

// option: --language's value (empty: not given); environment: CORVADIN_LANGUAGE's value.
LanguageChoice ChooseLanguage(const QString &option, const QString &environment, const QStringList &uiLanguages);

// The choice for this process: the option, the environment and QLocale::system().
LanguageChoice ChooseLanguage(const QString &option);

// Installs the program's translation for a language and Qt's own catalogues (e.g.
// "qtbase", "qtwebengine": their texts in Qt's dialogs, from QLibraryInfo's
// TranslationsPath) into the application, and removes them again when it goes. Made and
// destroyed on the main thread, with the application object alive and no run thread
// going.
class InstalledLanguage {
public:
    explicit InstalledLanguage(Language language, const QStringList &qtCatalogues = {QStringLiteral("qtbase")});
    ~InstalledLanguage();
    InstalledLanguage(const InstalledLanguage &) = delete;
    InstalledLanguage &operator=(const InstalledLanguage &) = delete;

    Language language() const { return m_language; }
    // Qt catalogues that were not found (a system without Qt's translations).
    QStringList missing() const { return m_missing; }

private:
    Language m_language;
    QStringList m_missing;
    std::vector<std::unique_ptr<QTranslator>> m_translators;
};
