#include "ui/ComboBox2.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QTimer>

CComboBox2::CComboBox2(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setMaxVisibleItems(20);
    // Qt's own completer would complete inline and filter by prefix; the box offers
    // its own suggestions instead.
    setCompleter(nullptr);

    // Typed suggestions live in a completer popup rather than the combo's own list:
    // a completer popup forwards key presses to the edit, so typing goes on while the
    // list is open. It is bound with setWidget only, so it never writes the edit.
    m_suggestModel = new QStringListModel(this);
    m_suggest = new QCompleter(m_suggestModel, this);
    m_suggest->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    m_suggest->setMaxVisibleItems(20);
    m_suggest->setWidget(lineEdit());
    m_suggest->popup()->installEventFilter(this);
    connect(m_suggest, qOverload<const QString &>(&QCompleter::activated), this, &CComboBox2::OnSuggestionChosen);

    // The combo's own list (the arrow) is closed in several ways, not all through
    // hidePopup(); its hide event catches them all.
    view()->parentWidget()->installEventFilter(this);

    connect(lineEdit(), &QLineEdit::textEdited, this, &CComboBox2::OnTextEdited);
}

void CComboBox2::AddItemText(const QString &text)
{
    m_items.append(text);
}

QStringList CComboBox2::SuggestionTexts() const
{
    return m_offered;
}

void CComboBox2::OnTextEdited(const QString &text)
{
    ++m_listSerial;
    if (text.isEmpty()) {
        m_offered.clear();
        m_suggestModel->setStringList({});
        m_suggest->popup()->hide();
        Q_EMIT editTextChangedByUser(text);
        return;
    }

    const QString typed = text.toLower();
    const QString marker = QLatin1String(CUT_MARKER);
    QStringList offered;
    for (const QString &item : std::as_const(m_items)) {
        QString lowered = item.toLower();
        if (!lowered.contains(typed))
            continue;
        const qsizetype cut = lowered.indexOf(marker);
        if (cut >= 0)
            lowered.truncate(cut);
        offered.append(lowered);
    }

    m_offered = offered;
    m_suggestModel->setStringList(offered);
    if (offered.isEmpty()) {
        m_suggest->popup()->hide();
    } else {
        // Span the whole box, not only the edit.
        const QRect area(lineEdit()->mapFrom(this, QPoint(0, 0)), size());
        m_suggest->complete(area);
        m_suggest->popup()->setCurrentIndex(QModelIndex());
    }
    Q_EMIT editTextChangedByUser(text);
}

void CComboBox2::OnSuggestionChosen(const QString &text)
{
    ++m_listSerial;
    m_offered.clear();
    SetEditKeepingList(text, int(text.size()));
    Q_EMIT textActivated(text);
}

void CComboBox2::showPopup()
{
    m_suggest->popup()->hide();
    ++m_listSerial;
    m_offered = m_items;
    SetListKeepingEdit(m_items);
    QComboBox::showPopup();
}

void CComboBox2::hidePopup()
{
    QComboBox::hidePopup();
    ScheduleEmptyList();
}

bool CComboBox2::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide
        && (watched == m_suggest->popup() || watched == view()->parentWidget()))
        ScheduleEmptyList();
    return QComboBox::eventFilter(watched, event);
}

void CComboBox2::ScheduleEmptyList()
{
    // A choice is handled after the list hides, through indices into the list, so the
    // list is emptied only once that has run. A refill in between cancels the emptying.
    const unsigned serial = ++m_listSerial;
    QTimer::singleShot(0, this, [this, serial] {
        if (serial != m_listSerial)
            return;
        m_offered.clear();
        m_suggestModel->setStringList({});
        SetListKeepingEdit({});
    });
}

void CComboBox2::SetListKeepingEdit(const QStringList &entries)
{
    const QString text = lineEdit()->text();
    const int caret = lineEdit()->cursorPosition();
    {
        // Refilling moves the current index and rewrites the edit; none of that is the
        // user's doing, so the box's own signals stay quiet.
        const QSignalBlocker blocker(this);
        clear();
        addItems(entries);
        setCurrentIndex(-1);
    }
    SetEditKeepingList(text, caret);
}

void CComboBox2::SetEditKeepingList(const QString &text, int caret)
{
    const QSignalBlocker blocker(this);
    lineEdit()->setText(text);
    lineEdit()->setCursorPosition(caret);
}
