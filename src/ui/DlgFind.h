// The album search box: find mode (modeless, "上一个" / "下一个" over the grid) and
// filter mode (modal, only the keyword).
//
// GUI thread only. The grid belongs to the window and must outlive the box.
#pragma once

#include <QDialog>
#include <QPoint>

class CMyGridCtrl;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CDlgFind : public QDialog {
    Q_OBJECT
public:
    explicit CDlgFind(QWidget *parent = nullptr);

    int mode = 1; // 1 find, 0 filter

    void SetGrid(CMyGridCtrl *grid) { m_grid = grid; }
    // Shows the controls of the mode and sets the search button's text.
    void SetMode(int newMode);
    // Filter mode: the trimmed keyword stored when "筛选" was pressed.
    QString Keyword() const { return m_keyword; }

    void OnNext();     // button1006: "下一个" or "筛选"
    void OnPrevious(); // button1701 "上一个"
    void OnClose();    // button1699 "×"
    // "×" and Esc: find mode hides the box, filter mode ends it with cancel.
    void reject() override;

Q_SIGNALS:
    // The find box was hidden ("×", Esc, or by its window): the window lets the grid
    // select several rows again.
    void findClosed();

protected:
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // FindText from the focus row, then once more from the far end; a keyword found
    // nowhere says so.
    void Search(bool forward);

    CMyGridCtrl *m_grid = nullptr;
    QString m_keyword;
    QPoint m_dragOffset; // press point relative to the frame, while dragging
    bool m_dragging = false;
    QLineEdit *m_edit = nullptr;         // edit1639
    QCheckBox *m_matchCase = nullptr;    // check1033
    QCheckBox *m_wholeCell = nullptr;    // check1034
    QPushButton *m_previous = nullptr;   // button1701
    QPushButton *m_search = nullptr;     // button1006
    QPushButton *m_close = nullptr;      // button1699
};
