// Everything that asks the person at the screen: message boxes, the yes/no question,
// the folder browser and the save-as dialog. The window and the dialogs reach them only
// through this seam, so tests can answer them.
//
// GUI thread only. Prompts() is the process's current answerer; SetPrompts installs
// another (tests), nullptr restores the real dialogs. The caller keeps ownership.
#pragma once

#include <QString>

class QWidget;

class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A message box with one OK button.
    virtual void Message(QWidget *parent, const QString &text, const QString &title = QString()) = 0;
    // Yes/No question; true for Yes.
    virtual bool AskYesNo(QWidget *parent, const QString &text, const QString &title) = 0;
    // Folder browser opening in startFolder (empty: the platform's choice); the chosen
    // folder's path, or empty when cancelled.
    virtual QString ChooseFolder(QWidget *parent, const QString &title, const QString &startFolder) = 0;
    // Save-as dialog asking before overwriting, opening in startFolder; the path, or
    // empty when cancelled. filter is a Qt name filter ("text (*.csv)"), defaultSuffix
    // without the dot.
    virtual QString SaveFileName(QWidget *parent, const QString &filter, const QString &defaultSuffix,
                                 const QString &startFolder) = 0;
    // Opens a folder or a web page with the desktop's default action.
    virtual void OpenUrl(const QString &folderOrUrl) = 0;
};

UserPrompts &Prompts();
void SetPrompts(UserPrompts *prompts);
