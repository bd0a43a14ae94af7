// The auto-complete box used for the source address and the save path.
//
// GUI thread only. While the user types, the drop-down offers the lower-cased items that
// contain the typed text (lower-cased), each cut before CUT_MARKER, in item-list order;
// the edit field keeps the typed text and caret. Opening the list with the arrow shows
// every item in its own case; closing it without a choice empties it again.
//
// A choice from either list arrives as textActivated(QString), with the edit already
// holding the chosen text. Use that (not currentIndexChanged) for choices: the list is
// refilled behind the user's back, with the box's own signals blocked.
#pragma once

#include <QComboBox>
#include <QStringList>

class QCompleter;
class QStringListModel;

class CComboBox2 : public QComboBox {
    Q_OBJECT
public:
    static constexpr const char *CUT_MARKER = "kzv?!oxff";

    explicit CComboBox2(QWidget *parent = nullptr);

    // All texts the box can offer; only grows while the program runs.
    void AddItemText(const QString &text);
    const QStringList &ItemTexts() const { return m_items; }

    // What the drop-down currently offers (for tests and the window).
    QStringList SuggestionTexts() const;

    void showPopup() override;
    void hidePopup() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // The user changed the edit text; sent after the box has rebuilt its suggestions.
    void editTextChangedByUser(const QString &text);

private:
    void OnTextEdited(const QString &text);
    void OnSuggestionChosen(const QString &text);
    void ScheduleEmptyList();
    void SetListKeepingEdit(const QStringList &entries);
    void SetEditKeepingList(const QString &text, int caret);

    QStringList m_items;
    QStringList m_offered;         // what the open (or last opened) list offers
    QCompleter *m_suggest = nullptr;           // popup of the typed suggestions
    QStringListModel *m_suggestModel = nullptr;
    unsigned m_listSerial = 0;     // bumped by every refill; cancels a pending emptying
};
