#include "ui/MyGridCtrl.h"

#include "text/StringCtrl.h"
#include "ui/UserPrompts.h"

#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QPixmap>
#include <QRegularExpression>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Thumbnail cells show the picture above the caption.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->decorationPosition = QStyleOptionViewItem::Top;
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
        option->decorationAlignment = Qt::AlignHCenter | Qt::AlignTop;
    }
};

const struct {
    const char *header;
    int width;
} LIST_COLUMNS[] = {
    {QT_TRANSLATE_NOOP("CMyGridCtrl", "序号"), 50}, {QT_TRANSLATE_NOOP("CMyGridCtrl", "名称"), 575},
    {QT_TRANSLATE_NOOP("CMyGridCtrl", "数量"), 50}, {QT_TRANSLATE_NOOP("CMyGridCtrl", "备注"), 100},
    {"", 0}, {"", 0},
};

} // namespace

CMyGridCtrl::CMyGridCtrl(QWidget *parent)
    : QTableWidget(parent)
{
    setObjectName(QStringLiteral("MyGridCtrl"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    verticalHeader()->hide();
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    m_listDelegate = itemDelegate();
    m_thumbDelegate = new ThumbnailDelegate(this);
}

void CMyGridCtrl::SetupGrid(int fixedRows, int rows, int cols, bool listMode)
{
    m_fixedRows = std::max(0, std::min(fixedRows, 1));
    setColumnCount(std::max(0, cols));
    setRowCount(std::max(0, rows - m_fixedRows));
    horizontalHeader()->setVisible(m_fixedRows > 0);
    setSelectionBehavior(listMode ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    clearSelection();
}

void CMyGridCtrl::SetupColumns(bool thumbMode, int thumbWidth, int thumbsPerRow)
{
    clear();
    setRowCount(0);
    setColumnCount(0);
    if (thumbMode) {
        SetupGrid(0, 0, thumbsPerRow, false);
        setItemDelegate(m_thumbDelegate);
        setIconSize(QSize(THUMB_WIDTH, THUMB_HEIGHT));
        for (int col = 0; col < thumbsPerRow; ++col) {
            setColumnHidden(col, false);
            horizontalHeader()->setSectionResizeMode(col, QHeaderView::Interactive);
            setColumnWidth(col, thumbWidth + 2 * CELL_MARGIN);
        }
    } else {
        const int cols = int(std::size(LIST_COLUMNS));
        SetupGrid(1, 1, cols, true);
        setItemDelegate(m_listDelegate);
        setIconSize(QSize());
        for (int col = 0; col < cols; ++col) {
            const QString header = *LIST_COLUMNS[col].header ? tr(LIST_COLUMNS[col].header) : QString();
            setHorizontalHeaderItem(col, new QTableWidgetItem(header));
            // The classic width, or the header's own where a translation is longer.
            const int headerWidth = header.isEmpty() ? 0 : horizontalHeader()->fontMetrics().horizontalAdvance(header) + 16;
            setColumnWidth(col, LIST_COLUMNS[col].width == 0 ? 0 : std::max(LIST_COLUMNS[col].width, headerWidth));
            // Width 0 would be raised to the header's minimum; hide the spare columns.
            setColumnHidden(col, LIST_COLUMNS[col].width == 0);
            // The name takes whatever width the window gives the grid.
            horizontalHeader()->setSectionResizeMode(col, col == NAME_COLUMN ? QHeaderView::Stretch : QHeaderView::Interactive);
        }
    }
    scrollToTop();
}

int CMyGridCtrl::RowCount() const
{
    return rowCount() + m_fixedRows;
}

int CMyGridCtrl::AppendRow(int height)
{
    const int viewRow = rowCount();
    insertRow(viewRow);
    if (height >= 0)
        setRowHeight(viewRow, height);
    return viewRow + m_fixedRows;
}

QTableWidgetItem *CMyGridCtrl::ItemAt(int row, int col) const
{
    if (col < 0 || col >= columnCount())
        return nullptr;
    if (row < m_fixedRows)
        return row >= 0 ? horizontalHeaderItem(col) : nullptr;
    return item(ToView(row), col);
}

void CMyGridCtrl::SetCell(int row, int col, const QString &text, int itemData, int image)
{
    if (row < 0 || row >= RowCount() || col < 0 || col >= columnCount())
        return;
    QTableWidgetItem *cell = ItemAt(row, col);
    if (!cell) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (row < m_fixedRows)
            setHorizontalHeaderItem(col, cell);
        else
            setItem(ToView(row), col, cell);
    }
    cell->setText(text);
    // Long names do not fit their column; the tip shows them whole.
    cell->setToolTip(text);
    cell->setData(Qt::UserRole, itemData >= 0 ? QVariant(itemData) : QVariant());
    if (image >= 0 && image < m_images.size())
        cell->setIcon(QIcon(m_images.at(image)));
    else
        cell->setIcon(QIcon());
}

QString CMyGridCtrl::CellText(int row, int col) const
{
    const QTableWidgetItem *cell = ItemAt(row, col);
    return cell ? cell->text() : QString();
}

int CMyGridCtrl::ItemData(int row, int col) const
{
    const QTableWidgetItem *cell = ItemAt(row, col);
    if (!cell)
        return -1;
    bool ok = false;
    const int value = cell->data(Qt::UserRole).toInt(&ok);
    return ok ? value : -1;
}

void CMyGridCtrl::CutToHeader()
{
    setRowCount(0);
}

int CMyGridCtrl::AddImage(const QImage &image)
{
    const QImage scaled = image.isNull()
        ? QImage()
        : image.scaled(THUMB_WIDTH, THUMB_HEIGHT, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_images.append(QPixmap::fromImage(scaled));
    return int(m_images.size()) - 1;
}

void CMyGridCtrl::ClearImages()
{
    m_images.clear();
}

void CMyGridCtrl::SelectAllCells()
{
    selectAll();
}

QList<int> CMyGridCtrl::SelectedAlbums(bool thumbMode, int albumCount) const
{
    QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    std::sort(cells.begin(), cells.end(), [](const QModelIndex &a, const QModelIndex &b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });

    QList<int> albums;
    int lastRow = -1;
    for (const QModelIndex &cell : std::as_const(cells)) {
        int data;
        if (thumbMode) {
            data = ItemData(cell.row() + m_fixedRows, cell.column());
        } else {
            if (cell.row() == lastRow)
                continue;
            lastRow = cell.row();
            data = ItemData(cell.row() + m_fixedRows, 0);
        }
        if (data >= 0 && data < albumCount)
            albums.append(data);
    }
    return albums;
}

int CMyGridCtrl::FindText(int startRow, QString keyword, bool forward, bool ignoreCase, bool wholeCell)
{
    if (keyword.isEmpty()) {
        Prompts().Message(this, tr("关键字不能为空"));
        return 1;
    }
    if (ignoreCase)
        keyword = keyword.toCaseFolded();

    const auto matches = [&](int row) {
        for (int col = 0; col < columnCount(); ++col) {
            QString text = CellText(row, col);
            if (ignoreCase)
                text = text.toCaseFolded();
            if (wholeCell ? text == keyword : text.contains(keyword))
                return true;
        }
        return false;
    };

    // Only album rows are searched: a search starting above them (focus row -1) would
    // otherwise look at the header row.
    const int first = m_fixedRows;
    const int last = RowCount() - 1;
    int found = -1;
    if (forward) {
        for (int row = std::max(startRow + 1, first); row <= last && found < 0; ++row) {
            if (matches(row))
                found = row;
        }
    } else {
        for (int row = std::min(startRow - 1, last); row >= first && found < 0; --row) {
            if (matches(row))
                found = row;
        }
    }
    if (found < 0)
        return 0;

    // Straight through the selection model: selectRow() would honour the keyboard
    // modifiers held at this moment and extend the selection instead.
    const QModelIndex index = model()->index(ToView(found), 0);
    selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index, QAbstractItemView::PositionAtTop);
    return 1;
}

int CMyGridCtrl::FocusRow() const
{
    const int row = currentRow();
    return row < 0 ? -1 : row + m_fixedRows;
}

bool CMyGridCtrl::ExportCsv(const QString &startFolder)
{
    const QString path =
        Prompts().SaveFileName(this, tr("导出后，自行调整列宽(*.csv)"), QStringLiteral("csv"), startFolder);
    if (path.isEmpty())
        return false;
    return ExportCsvTo(path);
}

QString CMyGridCtrl::CsvField(const QString &text)
{
    // RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes
    // doubled; any other field stays as it is.
    static const QRegularExpression special(QStringLiteral("[,\"\r\n]"));
    if (!text.contains(special))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool CMyGridCtrl::ExportCsvTo(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Album rows only: list mode leaves out its header row, thumbnail mode has none.
    for (int row = m_fixedRows; row < RowCount(); ++row) {
        QString line;
        for (int col = 0; col < columnCount(); ++col) {
            line += CsvField(CellText(row, col));
            line += QLatin1Char(',');
        }
        QByteArray bytes = ToGbk(line);
        bytes += "\r\n";
        if (file.write(bytes) != bytes.size())
            return false;
    }
    return file.flush();
}
