#include "ui/DlgFind.h"

#include "ui/MyGridCtrl.h"
#include "ui/UserPrompts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QHideEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

CDlgFind::CDlgFind(QWidget *parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog)
{
    setObjectName(QStringLiteral("dialog704"));
    setWindowTitle(tr("相册搜索"));

    auto *title = new QLabel(tr("相册搜索"));
    m_close = new QPushButton(QStringLiteral("×"));
    m_close->setObjectName(QStringLiteral("button1699"));
    m_close->setAutoDefault(false);
    m_close->setFlat(true);
    m_close->setFixedWidth(m_close->fontMetrics().horizontalAdvance(QStringLiteral("××")) + 8);
    connect(m_close, &QPushButton::clicked, this, &CDlgFind::OnClose);

    m_edit = new QLineEdit;
    m_edit->setObjectName(QStringLiteral("edit1639"));
    m_matchCase = new QCheckBox(tr("区分大小写"));
    m_matchCase->setObjectName(QStringLiteral("check1033"));
    m_wholeCell = new QCheckBox(tr("全字匹配"));
    m_wholeCell->setObjectName(QStringLiteral("check1034"));

    m_previous = new QPushButton(tr("上一个"));
    m_previous->setObjectName(QStringLiteral("button1701"));
    m_previous->setAutoDefault(false);
    connect(m_previous, &QPushButton::clicked, this, &CDlgFind::OnPrevious);
    m_search = new QPushButton(tr("下一个"));
    m_search->setObjectName(QStringLiteral("button1006"));
    m_search->setDefault(true);
    connect(m_search, &QPushButton::clicked, this, &CDlgFind::OnNext);

    auto *titleRow = new QHBoxLayout;
    titleRow->addWidget(title);
    titleRow->addStretch();
    titleRow->addWidget(m_close);
    auto *keywordRow = new QHBoxLayout;
    keywordRow->addWidget(new QLabel(tr("关键字:")));
    keywordRow->addWidget(m_edit, 1);
    auto *optionRow = new QHBoxLayout;
    optionRow->addWidget(m_matchCase);
    optionRow->addWidget(m_wholeCell);
    optionRow->addStretch();
    optionRow->addWidget(m_previous);
    optionRow->addWidget(m_search);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(titleRow);
    layout->addLayout(keywordRow);
    layout->addLayout(optionRow);

    SetMode(1);
}

void CDlgFind::SetMode(int newMode)
{
    mode = newMode;
    const bool find = mode == 1;
    m_matchCase->setVisible(find);
    m_wholeCell->setVisible(find);
    m_previous->setVisible(find);
    m_search->setText(find ? tr("下一个") : tr("筛选"));
}

void CDlgFind::Search(bool forward)
{
    if (!m_grid)
        return;
    const QString keyword = m_edit->text().trimmed();
    const bool ignoreCase = !m_matchCase->isChecked();
    const bool wholeCell = m_wholeCell->isChecked();
    if (m_grid->FindText(m_grid->FocusRow(), keyword, forward, ignoreCase, wholeCell) != 0)
        return;
    // Nothing more in this direction: once more over the whole list from the far end.
    const int farEnd = forward ? m_grid->FixedRows() - 1 : m_grid->RowCount();
    if (m_grid->FindText(farEnd, keyword, forward, ignoreCase, wholeCell) == 0)
        Prompts().Message(this, tr("找不到“%1”").arg(keyword));
}

void CDlgFind::OnNext()
{
    if (mode == 1) {
        Search(true);
        return;
    }
    m_keyword = m_edit->text().trimmed();
    accept();
}

void CDlgFind::OnPrevious()
{
    if (mode == 1)
        Search(false);
}

void CDlgFind::OnClose()
{
    reject();
}

void CDlgFind::reject()
{
    // Find mode: only hidden, the same box serves the next search.
    QDialog::reject();
}

void CDlgFind::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    // However it was hidden: "×", Esc, or the window (filter, thumbnails, closing).
    if (mode == 1 && !event->spontaneous())
        Q_EMIT findClosed();
}

void CDlgFind::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
        m_dragging = true;
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CDlgFind::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CDlgFind::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}
