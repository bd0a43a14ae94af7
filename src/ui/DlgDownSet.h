// The download parameters dialog: threads, time-out and the size limits of one site
// mode's record.
//
// GUI thread only. The record belongs to the caller (the settings image); it is written
// only when OK is pressed with valid values.
#pragma once

#include <QDialog>

#include "settings/SoftData.h"

class QLineEdit;

class CDlgDownSet : public QDialog {
    Q_OBJECT
public:
    explicit CDlgDownSet(ST_DOWNSET *record, QWidget *parent = nullptr);

    // OK: valid values are stored and the dialog closes; bad ones show "参数错误".
    void OnOk();

private:
    ST_DOWNSET *m_record;
    QLineEdit *m_threads = nullptr; // edit1002
    QLineEdit *m_timeout = nullptr; // edit1003
    QLineEdit *m_minKB = nullptr;   // edit1000
    QLineEdit *m_maxKB = nullptr;   // edit1001
};
