// The naming settings dialog: file name prefix, suffix, text replacement and name base,
// and the album folder's prefix, suffix and name choice, of one site mode's record.
//
// GUI thread only. The record belongs to the caller; it is written only on OK.
#pragma once

#include <QDialog>

#include "settings/SoftData.h"

class QLineEdit;
class QRadioButton;

class CDlgSaveSet : public QDialog {
    Q_OBJECT
public:
    explicit CDlgSaveSet(ST_SAVESET *record, QWidget *parent = nullptr);

    // The text behind the link "前后缀说明".
    static QString HelpText();

    void OnOk();

private:
    ST_SAVESET *m_record;
    QLineEdit *m_prefix = nullptr;        // edit1000
    QLineEdit *m_suffix = nullptr;        // edit1001
    QLineEdit *m_replaceWhat = nullptr;   // edit1021
    QLineEdit *m_replaceWith = nullptr;   // edit1022
    QLineEdit *m_folderPrefix = nullptr;  // edit1002
    QLineEdit *m_folderSuffix = nullptr;  // edit1003
    QRadioButton *m_nameBase[3] = {};     // radio1016..1018
    QRadioButton *m_folderName[2] = {};   // radio1019, radio1020
};
