#include "ui/DlgDownSet.h"

#include "ui/UserPrompts.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// A signed decimal number as a 16-bit field: text that is not a number reads as 0,
// other values wrap modulo 65536 (-1 is 65535).
uint16_t ReadWord(const QLineEdit *edit)
{
    bool ok = false;
    const int value = edit->text().trimmed().toInt(&ok);
    return ok ? uint16_t(value) : uint16_t(0);
}

QLineEdit *AddEdit(QFormLayout *form, const QString &label, const char *name, uint16_t value)
{
    auto *edit = new QLineEdit(QString::number(value));
    edit->setObjectName(QLatin1String(name));
    form->addRow(label, edit);
    return edit;
}

} // namespace

CDlgDownSet::CDlgDownSet(ST_DOWNSET *record, QWidget *parent)
    : QDialog(parent)
    , m_record(record)
{
    setWindowTitle(tr("设置"));

    auto *group = new QGroupBox(tr("下载参数设置"));
    auto *form = new QFormLayout(group);
    m_threads = AddEdit(form, tr("线程数(1~15)："), "edit1002", record->wThreads);
    m_timeout = AddEdit(form, tr("超时(S, >=10)："), "edit1003", record->wTimeout);
    m_minKB = AddEdit(form, tr("图片最小值(K)："), "edit1000", record->wMinKB);
    m_maxKB = AddEdit(form, tr("图片最大值(K)："), "edit1001", record->wMaxKB);

    auto *ok = new QPushButton(tr("确 定"));
    ok->setObjectName(QStringLiteral("button1023"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgDownSet::OnOk);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);
}

void CDlgDownSet::OnOk()
{
    const uint16_t threads = ReadWord(m_threads);
    const uint16_t timeout = ReadWord(m_timeout);
    // Each wrong field is named with its range, and the first one takes the focus.
    QStringList wrong;
    QLineEdit *first = nullptr;
    if (threads < 1 || threads > 15) {
        wrong << tr("线程数应为 1 到 15");
        first = m_threads;
    }
    if (timeout < 10) {
        wrong << tr("超时应不少于 10 秒");
        first = first ? first : m_timeout;
    }
    if (!wrong.isEmpty()) {
        Prompts().Message(this, tr("参数错误：") + wrong.join(tr("；")));
        first->setFocus();
        first->selectAll();
        return;
    }
    m_record->wThreads = threads;
    m_record->wTimeout = timeout;
    m_record->wMinKB = ReadWord(m_minKB);
    m_record->wMaxKB = ReadWord(m_maxKB);
    accept();
}
