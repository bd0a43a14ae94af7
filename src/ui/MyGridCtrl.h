// The album grid of the main window: a table in list mode, a matrix of thumbnails in
// thumbnail mode.
//
// GUI thread only (run threads reach it through the window's queued services). Row
// numbers in this interface count the fixed header row in list mode: the first album
// row is 1 in list mode and 0 in thumbnail mode. The header row is Qt's horizontal
// header, so rows are offset by one internally.
//
// The original design had to turn drawing off and wait for the paint routine to finish
// before rebuilding the grid, because other threads drew cells. Here every change and
// every paint runs on the GUI thread, so no such wait exists.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QList>
#include <QString>
#include <QTableWidget>

class CMyGridCtrl : public QTableWidget {
    Q_OBJECT
public:
    static constexpr int THUMB_WIDTH = 113;
    static constexpr int THUMB_HEIGHT = 120;
    static constexpr int THUMBS_PER_ROW = 6;
    static constexpr int CELL_MARGIN = 8;
    // List mode: the name column (575 pixels in the classic window) stretches with the grid.
    static constexpr int NAME_COLUMN = 1;

    explicit CMyGridCtrl(QWidget *parent = nullptr);

    // Fixed rows (0 or 1: the header row), album rows included in rows, columns, and
    // list mode (whole-row selection) on or off. Clears the selection.
    void SetupGrid(int fixedRows, int rows, int cols, bool listMode);
    // Empties the grid and prepares it for the mode: list mode with the header row and
    // the six columns, or thumbnail mode with thumbsPerRow columns of thumbWidth + 16.
    void SetupColumns(bool thumbMode, int thumbWidth = THUMB_WIDTH, int thumbsPerRow = THUMBS_PER_ROW);

    int FixedRows() const { return m_fixedRows; }
    // Row count including the fixed rows.
    int RowCount() const;
    // Appends a row and answers its number; height -1 keeps the default height.
    int AppendRow(int height = -1);
    // itemData -1 stores none; image -1 shows none (else an index from AddImage).
    void SetCell(int row, int col, const QString &text, int itemData = -1, int image = -1);
    QString CellText(int row, int col) const;
    int ItemData(int row, int col) const; // -1 when the cell has none
    // Keeps only the fixed rows (before a filtered rebuild).
    void CutToHeader();

    // Thumbnail image list: the picture scaled to exactly 113 x 120; answers its index.
    int AddImage(const QImage &image);
    void ClearImages();
    int ImageCount() const { return m_images.size(); }

    void SelectAllCells();
    void ClearSelection() { clearSelection(); }

    // Album indices chosen by the selection: list mode, column 0's item data of every
    // row with a selected cell, top to bottom; thumbnail mode, the item data of every
    // selected cell, row by row, left to right. Indices >= albumCount and cells
    // without data are dropped.
    QList<int> SelectedAlbums(bool thumbMode, int albumCount) const;

    // Searches rows after (forward) or before (backward, down to the first album row)
    // startRow. 1 on a hit (the row is selected, made current and scrolled to the top)
    // or when the keyword is empty (after the message "关键字不能为空"); 0 otherwise,
    // with the selection unchanged.
    int FindText(int startRow, QString keyword, bool forward, bool ignoreCase, bool wholeCell);
    // Row of the current cell, -1 when none.
    int FocusRow() const;

    // Asks for a file (the dialog opens in startFolder) and writes every album row (not
    // the header) as GBK CSV, CR LF, each field followed by a comma; false when
    // cancelled or not written.
    bool ExportCsv(const QString &startFolder = QString());
    bool ExportCsvTo(const QString &path) const;
    // One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a line break.
    static QString CsvField(const QString &text);

private:
    QTableWidgetItem *ItemAt(int row, int col) const;
    int ToView(int row) const { return row - m_fixedRows; }

    int m_fixedRows = 0;
    QList<QPixmap> m_images;
    QAbstractItemDelegate *m_listDelegate = nullptr;  // the view's own
    QAbstractItemDelegate *m_thumbDelegate = nullptr; // picture above the caption
};
