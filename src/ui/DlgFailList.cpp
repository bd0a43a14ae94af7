#include "ui/DlgFailList.h"

#include "net/Reasons.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

CDlgFailList::CDlgFailList(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("failList"));
    setWindowTitle(tr("失败列表"));
    setModal(false);
    resize(760, 360);

    m_count = new QLabel(this);
    m_table = new QTableWidget(0, 3, this);
    m_table->setHorizontalHeaderLabels({tr("文件"), tr("原因"), tr("地址")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_retry = new QPushButton(tr("重新下载"), this);
    m_retry->setObjectName(QStringLiteral("retry"));
    auto *close = new QPushButton(tr("关闭"), this);
    connect(m_retry, &QPushButton::clicked, this, &CDlgFailList::RetryRequested);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_retry);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_count);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    UpdateButton();
}

void CDlgFailList::SetFailures(const QList<PictureOutcome> &failures)
{
    m_table->setRowCount(int(failures.size()));
    for (int row = 0; row < failures.size(); ++row) {
        const PictureOutcome &f = failures[row];
        auto *file = new QTableWidgetItem(QDir::toNativeSeparators(f.file).section(QDir::separator(), -1));
        file->setToolTip(QDir::toNativeSeparators(f.file));
        m_table->setItem(row, 0, file);
        m_table->setItem(row, 1, new QTableWidgetItem(ReasonText(f.reason)));
        m_table->setItem(row, 2, new QTableWidgetItem(f.address));
    }
    m_table->resizeColumnsToContents();
    m_count->setText(failures.isEmpty() ? tr("没有下载失败的图片") : tr("%n张图片下载失败：", nullptr, int(failures.size())));
    UpdateButton();
}

void CDlgFailList::SetRunning(bool running)
{
    m_running = running;
    UpdateButton();
}

void CDlgFailList::UpdateButton()
{
    m_retry->setEnabled(!m_running && m_table->rowCount() > 0);
}
