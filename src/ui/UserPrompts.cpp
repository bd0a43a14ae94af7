#include "ui/UserPrompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace {

class DesktopPrompts : public UserPrompts {
public:
    void Message(QWidget *parent, const QString &text, const QString &title) override
    {
        QMessageBox::information(parent, title.isEmpty() ? QStringLiteral("Corvadin") : title, text);
    }
    bool AskYesNo(QWidget *parent, const QString &text, const QString &title) override
    {
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
    QString ChooseFolder(QWidget *parent, const QString &title, const QString &startFolder) override
    {
        return QFileDialog::getExistingDirectory(parent, title, startFolder);
    }
    QString SaveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix,
                         const QString &startFolder) override
    {
        QFileDialog dialog(parent);
        if (!startFolder.isEmpty())
            dialog.setDirectory(startFolder);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(filter);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().first();
    }
    void OpenUrl(const QString &folderOrUrl) override
    {
        const QUrl url = folderOrUrl.contains(QStringLiteral("://")) ? QUrl(folderOrUrl)
                                                                      : QUrl::fromLocalFile(QDir::fromNativeSeparators(folderOrUrl));
        QDesktopServices::openUrl(url);
    }
};

DesktopPrompts g_desktop;
UserPrompts *g_current = nullptr;

} // namespace

UserPrompts &Prompts()
{
    return g_current ? *g_current : g_desktop;
}

void SetPrompts(UserPrompts *prompts)
{
    g_current = prompts;
}
