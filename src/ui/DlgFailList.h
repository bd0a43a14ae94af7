// The "失败列表" dialog: the pictures the last download run could not save, each with
// its file, its reason and its address, and a button that downloads just those again.
//
// GUI thread only. Modeless; the main window owns it, fills it when a run ends and
// starts the retry when the button asks for it.
#pragma once

#include "core/RunSummary.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class CDlgFailList : public QDialog {
    Q_OBJECT
public:
    explicit CDlgFailList(QWidget *parent = nullptr);

    // Shows the run's failed pictures (none: an empty list, the retry button disabled).
    void SetFailures(const QList<PictureOutcome> &failures);
    // While a run is in progress there is nothing to retry yet.
    void SetRunning(bool running);

    QTableWidget *Table() const { return m_table; }
    QPushButton *RetryButton() const { return m_retry; }

Q_SIGNALS:
    // "重新下载" was pressed.
    void RetryRequested();

private:
    void UpdateButton();

    QLabel *m_count = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_retry = nullptr;
    bool m_running = false;
};
