// The reusable widgets of the window: the auto-complete box, the site classification,
// the album grid and the three settings dialogs. Offscreen; the user's answers come
// from a scripted UserPrompts.
#include "settings/SoftData.h"
#include "core/SiteConfig.h"
#include "ui/ComboBox2.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgFind.h"
#include "ui/DlgSaveSet.h"
#include "ui/MyGridCtrl.h"
#include "ui/SiteModes.h"
#include "ui/UserPrompts.h"

#include "TestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringDecoder>

#include <gtest/gtest.h>

namespace {

// Answers every question as scripted and records the messages.
class ScriptedPrompts : public UserPrompts {
public:
    QStringList messages;
    QString savePath; // answer of the save-as dialog ("" = cancelled)
    QString saveFilter;

    void Message(QWidget *, const QString &text, const QString &) override { messages << text; }
    bool AskYesNo(QWidget *, const QString &, const QString &) override { return false; }
    QString ChooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    QString SaveFileName(QWidget *, const QString &filter, const QString &, const QString &) override
    {
        saveFilter = filter;
        return savePath;
    }
    void OpenUrl(const QString &) override {}
};

class WidgetsTest : public ::testing::Test {
protected:
    void SetUp() override { SetPrompts(&prompts); }
    void TearDown() override { SetPrompts(nullptr); }
    ScriptedPrompts prompts;
};

// Types text into a widget key by key, as the keyboard would.
void TypeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        const int key = c.isLetter() ? c.toUpper().unicode() : c.unicode();
        const Qt::KeyboardModifiers mods = c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier;
        QKeyEvent press(QEvent::KeyPress, key, mods, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, QString(c));
        QApplication::sendEvent(widget, &release);
        if (mods & Qt::ShiftModifier) {
            // Let go of Shift too, or the application keeps it as held. A Shift event
            // reports its modifiers with Shift toggled, so the release carries Shift.
            QKeyEvent shift(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier);
            QApplication::sendEvent(widget, &shift);
        }
    }
}

void DrainEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------------
// CComboBox2

class ComboBox2Test : public WidgetsTest {
protected:
    void SetUp() override
    {
        WidgetsTest::SetUp();
        for (const char *item : {"xxABCyy", "zzz", "abc", "http://a.b/c?kzv?!oxffTAIL"})
            box.AddItemText(QString::fromLatin1(item));
        box.show();
        box.lineEdit()->setFocus();
    }
    void TearDown() override
    {
        box.hidePopup();
        DrainEvents();
        WidgetsTest::TearDown();
    }
    CComboBox2 box;
};

TEST_F(ComboBox2Test, TypingOffersLowerCasedMatchesInItemOrderAndKeepsTheEdit)
{
    QStringList edits;
    QObject::connect(&box, &CComboBox2::editTextChangedByUser, [&](const QString &t) { edits << t; });

    TypeText(box.lineEdit(), QStringLiteral("ABC"));

    EXPECT_EQ(box.SuggestionTexts(), (QStringList{"xxabcyy", "abc"}));
    EXPECT_EQ(box.lineEdit()->text(), "ABC");
    EXPECT_EQ(box.lineEdit()->cursorPosition(), 3);
    EXPECT_FALSE(box.lineEdit()->hasSelectedText());
    EXPECT_EQ(edits, (QStringList{"A", "AB", "ABC"}));
    EXPECT_EQ(box.ItemTexts().size(), 4) << "the item list itself is never changed";
}

TEST_F(ComboBox2Test, TypingInTheMiddleKeepsTheCaret)
{
    box.lineEdit()->setText(QStringLiteral("AC"));
    box.lineEdit()->setCursorPosition(1);
    TypeText(box.lineEdit(), QStringLiteral("B"));

    EXPECT_EQ(box.lineEdit()->text(), "ABC");
    EXPECT_EQ(box.lineEdit()->cursorPosition(), 2);
    EXPECT_EQ(box.SuggestionTexts(), (QStringList{"xxabcyy", "abc"}));
}

TEST_F(ComboBox2Test, AnItemIsOfferedUpToTheCutMarker)
{
    TypeText(box.lineEdit(), QStringLiteral("a.B"));
    EXPECT_EQ(box.SuggestionTexts(), QStringList{"http://a.b/c?"});
}

TEST_F(ComboBox2Test, NoMatchOrAnEmptyEditOffersNothing)
{
    TypeText(box.lineEdit(), QStringLiteral("ab"));
    ASSERT_FALSE(box.SuggestionTexts().isEmpty());
    TypeText(box.lineEdit(), QStringLiteral("q"));
    EXPECT_TRUE(box.SuggestionTexts().isEmpty());
    EXPECT_EQ(box.lineEdit()->text(), "abq");

    box.lineEdit()->clear();
    TypeText(box.lineEdit(), QStringLiteral("zz"));
    ASSERT_EQ(box.SuggestionTexts(), QStringList{"zzz"});
    box.lineEdit()->selectAll();
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(box.lineEdit(), &backspace);
    EXPECT_TRUE(box.SuggestionTexts().isEmpty());
    EXPECT_TRUE(box.lineEdit()->text().isEmpty());
}

TEST_F(ComboBox2Test, TheArrowShowsAllItemsInTheirOwnCaseAndCancelEmptiesTheList)
{
    TypeText(box.lineEdit(), QStringLiteral("ABC"));
    box.showPopup();

    EXPECT_EQ(box.SuggestionTexts(), box.ItemTexts());
    EXPECT_EQ(box.count(), 4);
    EXPECT_EQ(box.lineEdit()->text(), "ABC");

    box.hidePopup();
    DrainEvents();
    EXPECT_TRUE(box.SuggestionTexts().isEmpty());
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.lineEdit()->text(), "ABC");
}

TEST_F(ComboBox2Test, ChoosingATypedSuggestionPutsItIntoTheEdit)
{
    QStringList chosen;
    QObject::connect(&box, &QComboBox::textActivated, [&](const QString &t) { chosen << t; });
    TypeText(box.lineEdit(), QStringLiteral("ABC"));

    // The suggestion popup forwards other keys to the edit; arrows and Enter choose.
    QWidget *popup = QApplication::activePopupWidget();
    ASSERT_NE(popup, nullptr);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(popup, &down);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(popup, &enter);
    DrainEvents();

    EXPECT_EQ(chosen, QStringList{"xxabcyy"});
    EXPECT_EQ(box.lineEdit()->text(), "xxabcyy");
    EXPECT_TRUE(box.SuggestionTexts().isEmpty());
}

// ---------------------------------------------------------------------------------
// Site classification

struct ClassifyCase {
    const char *address;
    int current;
    int mode;
    int kind; // -1: the album kind is left alone
    const char *host = "127.0.0.1:8090";
};

class ClassifyTest : public ::testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyTest, GivesTheModeOfTheFirstMatchingRow)
{
    const ClassifyCase &c = GetParam();
    int kind = -1;
    EXPECT_EQ(ClassifySiteMode(QString::fromUtf8(c.address), c.current, QString::fromLatin1(c.host), &kind), c.mode);
    EXPECT_EQ(kind, c.kind);
}

INSTANTIATE_TEST_SUITE_P(Addresses, ClassifyTest, ::testing::Values(
    // NetEase (row 3) before Taobao (row 13)
    ClassifyCase{"http://www.taobao.com/x?from=photo.163.com/a", 18, 2, -1},
    ClassifyCase{"http://item.taobao.com/item.htm", 18, 11, -1},
    ClassifyCase{"http://photo.sina.com.cn", 18, 4, -1},
    // a match at position 0 does not count
    ClassifyCase{"163.com/ http://example.org/", 5, 5, -1},
    ClassifyCase{"http://example.org/", 7, 7, -1},
    ClassifyCase{"http://127.0.0.1:8090/boards/12/", 0, 18, -1},
    ClassifyCase{"https://127.0.0.1:8090/boards/12/", 3, 18, -1},
    ClassifyCase{"http://boards.example:9000/boards/1/", 3, 18, -1, "boards.example:9000"},
    // without a configured host the board row matches nothing
    ClassifyCase{"http://127.0.0.1:8090/boards/12/", 3, 3, -1, ""},
    ClassifyCase{"http://t.qq.com/someone", 18, 0, 2},
    ClassifyCase{"http://qun.qq.com/group/1", 18, 0, 1},
    ClassifyCase{"http://user.qzone.qq.com/123456", 18, 0, 0},
    // no http address: nothing changes
    ClassifyCase{"www.163.com/abc", 9, 9, -1},
    ClassifyCase{"", 18, 18, -1}));

TEST(SiteModesTest, NamesLoginPagesAndTable)
{
    EXPECT_EQ(SiteModes::ModeNames().size(), SITE_MODE_COUNT);
    EXPECT_EQ(SiteModes::ModeName(SITE_MODE_BOARD), QStringLiteral("画板"));
    EXPECT_EQ(SiteModes::RowMode(SiteModes::BOARD_ROW), SITE_MODE_BOARD);
    const QString home = QStringLiteral("http://boards.example/");
    EXPECT_EQ(SiteModes::LoginPage(SiteModes::LOGIN_CUSTOM_ID, home), home); // the board site's own
    for (int id : {32781, 32782, 32789, 32790, 32791, 32792, 32793, 32794, 32803, 32813, 32815})
        EXPECT_TRUE(SiteModes::LoginPage(id, home).startsWith(QLatin1String("https://"))) << id;
    EXPECT_TRUE(SiteModes::LoginPage(32783, home).isEmpty());
}

// ---------------------------------------------------------------------------------
// CMyGridCtrl

class GridTest : public WidgetsTest {
protected:
    // List mode with one row per name; album index = position in names.
    void FillList(const QStringList &names)
    {
        grid.SetupColumns(false);
        for (int i = 0; i < names.size(); ++i) {
            const int row = grid.AppendRow();
            grid.SetCell(row, 0, QString::asprintf("%04d", row), i);
            grid.SetCell(row, 1, names[i]);
            grid.SetCell(row, 2, QStringLiteral("  20"));
        }
    }
    QList<int> SelectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &index : grid.selectionModel()->selectedRows())
            rows << index.row() + grid.FixedRows();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    CMyGridCtrl grid;
};

TEST_F(GridTest, ListModeHasTheHeaderRowAndSixColumns)
{
    grid.SetupColumns(false);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(grid.RowCount(), 1);
    ASSERT_EQ(grid.columnCount(), 6);
    const QStringList headers{"序号", "名称", "数量", "备注", "", ""};
    for (int col = 0; col < 6; ++col)
        EXPECT_EQ(grid.CellText(0, col), headers[col]);
    // The name takes the room the other columns leave, whatever the grid's width.
    grid.show();
    for (int width : {900, 500}) {
        grid.resize(width, 300);
        QCoreApplication::processEvents();
        EXPECT_EQ(grid.columnWidth(0), 50);
        EXPECT_EQ(grid.columnWidth(2), 50);
        EXPECT_EQ(grid.columnWidth(3), 100);
        EXPECT_EQ(grid.columnWidth(1), grid.viewport()->width() - 200) << width;
    }
    EXPECT_TRUE(grid.isColumnHidden(4) && grid.isColumnHidden(5));
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);

    EXPECT_EQ(grid.AppendRow(), 1) << "the first album row is row 1";
    grid.CutToHeader();
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.CellText(0, 1), "名称");
}

TEST_F(GridTest, FourteenThumbnailsMakeRowsOfSixSixAndTwo)
{
    grid.SetupColumns(true);
    QImage cover(300, 200, QImage::Format_RGB32);
    cover.fill(Qt::red);
    const int image = grid.AddImage(cover);
    for (int i = 0; i < 14; ++i) {
        const int col = i % CMyGridCtrl::THUMBS_PER_ROW;
        if (col == 0) {
            EXPECT_EQ(grid.AppendRow(CMyGridCtrl::THUMB_HEIGHT + 10), i / CMyGridCtrl::THUMBS_PER_ROW);
        }
        grid.SetCell(i / CMyGridCtrl::THUMBS_PER_ROW, col, QString::asprintf("%d.album", i + 1), i, i == 0 ? image : -1);
    }

    EXPECT_EQ(grid.FixedRows(), 0);
    ASSERT_EQ(grid.RowCount(), 3);
    EXPECT_EQ(grid.columnWidth(0), 129);
    EXPECT_EQ(grid.rowHeight(0), 130);
    EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectItems);
    EXPECT_EQ(grid.ItemData(2, 1), 13);
    EXPECT_EQ(grid.ItemData(2, 2), -1);
    EXPECT_EQ(grid.item(0, 0)->icon().availableSizes(), QList<QSize>{QSize(113, 120)});
    EXPECT_TRUE(grid.item(0, 1)->icon().isNull());

    grid.SelectAllCells();
    QList<int> all;
    for (int i = 0; i < 14; ++i)
        all << i;
    EXPECT_EQ(grid.SelectedAlbums(true, 14), all);
    EXPECT_EQ(grid.SelectedAlbums(true, 8), all.mid(0, 8)) << "indices beyond the album list are dropped";
}

TEST_F(GridTest, SelectedAlbumsInListModeAreRowsTopToBottom)
{
    FillList({"a", "b", "c", "d"});
    grid.selectionModel()->select(grid.model()->index(2, 1), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid.selectionModel()->select(grid.model()->index(0, 3), QItemSelectionModel::Select);
    grid.selectionModel()->select(grid.model()->index(3, 0), QItemSelectionModel::Select);

    EXPECT_EQ(grid.SelectedAlbums(false, 4), (QList<int>{0, 2, 3}));
    EXPECT_EQ(grid.SelectedAlbums(false, 3), (QList<int>{0, 2}));
}

struct FindCase {
    const char *name;
    int start;
    const char *keyword;
    bool forward, ignoreCase, wholeCell;
    int result;
    int row; // row selected afterwards; -1 = the selection is unchanged
};

TEST_F(GridTest, FindText)
{
    const QStringList names{"Alpha", "SUMMER trip", "summer", "winter", "Summer camp"};
    const FindCase cases[] = {
        {"ignore case finds capitals", 0, "summer trip", true, true, false, 1, 2},
        {"match case does not", 0, "summer trip", true, false, false, 0, -1},
        {"whole cell skips partial names", 0, "SUMMER", true, true, true, 1, 3},
        {"part of a name with whole cell", 0, "summ", true, false, true, 0, -1},
        {"forward starts after the start row", 2, "summer", true, true, false, 1, 3},
        {"forward from the last row finds nothing", 5, "summer", true, true, false, 0, -1},
        {"backward from the row count", 6, "summer", false, true, false, 1, 5},
        {"backward stops above the header", 2, "序号", false, true, false, 0, -1},
        {"other columns are searched", 0, "0004", true, true, true, 1, 4},
    };
    FillList(names);
    for (const FindCase &c : cases) {
        SCOPED_TRACE(c.name);
        // Album row 1 selected before each search.
        grid.selectionModel()->select(grid.model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const int result = grid.FindText(c.start, QString::fromUtf8(c.keyword), c.forward, c.ignoreCase, c.wholeCell);
        EXPECT_EQ(result, c.result);
        const int expected = c.row < 0 ? 1 : c.row;
        EXPECT_EQ(SelectedRows(), QList<int>{expected});
        if (c.row >= 0) {
            EXPECT_EQ(grid.FocusRow(), c.row);
        }
    }
    EXPECT_TRUE(prompts.messages.isEmpty());

    EXPECT_EQ(grid.FindText(0, QString(), true, true, false), 1);
    EXPECT_EQ(prompts.messages, QStringList{"关键字不能为空"});
}

TEST_F(GridTest, ExportWritesGbkLinesOfEveryAlbumRowQuotingWhatNeedsIt)
{
    FillList({"a,b", "it's \"x\"", "画板", "two\nlines", "plain 'quoted'"});
    Sandbox sandbox;
    prompts.savePath = sandbox.file(QStringLiteral("albums.csv"));
    ASSERT_TRUE(grid.ExportCsv());
    EXPECT_EQ(prompts.saveFilter, QStringLiteral("导出后，自行调整列宽(*.csv)"));

    const QByteArray bytes = sandbox.read(QStringLiteral("albums.csv"));
    QStringDecoder gbk("GBK");
    ASSERT_TRUE(gbk.isValid());
    const QString text = gbk.decode(bytes);
    // A spreadsheet reads each name back whole: apostrophes stay, a comma, a quote or a
    // line break puts the field in quotes.
    EXPECT_EQ(text, QStringLiteral("0001,\"a,b\",  20,,,,\r\n"
                                   "0002,\"it's \"\"x\"\"\",  20,,,,\r\n"
                                   "0003,画板,  20,,,,\r\n"
                                   "0004,\"two\nlines\",  20,,,,\r\n"
                                   "0005,plain 'quoted',  20,,,,\r\n"));
    EXPECT_TRUE(bytes.contains(QByteArray("\xbb\xad\xb0\xe5"))) << "画板 in GBK";

    prompts.savePath.clear();
    EXPECT_FALSE(grid.ExportCsv());
    EXPECT_FALSE(grid.ExportCsvTo(sandbox.file(QStringLiteral("missing/folder/x.csv"))));
    EXPECT_FALSE(QFile::exists(sandbox.file(QStringLiteral("missing"))));
}

TEST_F(GridTest, ExportInThumbnailModeStartsAtTheFirstRowOfThumbnails)
{
    grid.SetupColumns(true);
    for (int row = 0; row < 2; ++row) {
        grid.AppendRow(130);
        grid.SetCell(row, 0, QString::asprintf("%d.x", row * 6 + 1), row * 6);
    }
    grid.SetCell(0, 1, QStringLiteral("2.y,z"), 1);
    Sandbox sandbox;
    ASSERT_TRUE(grid.ExportCsvTo(sandbox.file(QStringLiteral("t.csv"))));
    EXPECT_EQ(sandbox.read(QStringLiteral("t.csv")), QByteArray("1.x,\"2.y,z\",,,,,\r\n7.x,,,,,,\r\n"));
}

// ---------------------------------------------------------------------------------
// CDlgDownSet

struct DownSetCase {
    const char *threads, *timeout, *minKB, *maxKB;
    const char *message; // nullptr: accepted
    ST_DOWNSET stored;   // min, max, threads, timeout
};

TEST_F(WidgetsTest, DownSetValidatesBeforeStoring)
{
    const ST_DOWNSET before{1, 2, 5, 30};
    const DownSetCase cases[] = {
        {"0", "30", "0", "0", "参数错误：线程数应为 1 到 15", before},
        {"16", "30", "0", "0", "参数错误：线程数应为 1 到 15", before},
        {"5", "9", "0", "0", "参数错误：超时应不少于 10 秒", before},
        {"-1", "5", "0", "0", "参数错误：线程数应为 1 到 15；超时应不少于 10 秒", before}, // 65535 workers
        {"15", "10", "abc", "-1", nullptr, {0, 65535, 15, 10}},
        {" 1 ", "600", "70000", "2048", nullptr, {4464, 2048, 1, 600}},
    };
    for (const DownSetCase &c : cases) {
        SCOPED_TRACE(std::string(c.threads) + "/" + c.timeout + "/" + c.minKB + "/" + c.maxKB);
        prompts.messages.clear();
        ST_DOWNSET record = before;
        CDlgDownSet dialog(&record);
        EXPECT_EQ(dialog.findChild<QLineEdit *>("edit1002")->text(), "5");
        EXPECT_EQ(dialog.findChild<QLineEdit *>("edit1003")->text(), "30");
        dialog.open();
        dialog.findChild<QLineEdit *>("edit1002")->setText(QString::fromLatin1(c.threads));
        dialog.findChild<QLineEdit *>("edit1003")->setText(QString::fromLatin1(c.timeout));
        dialog.findChild<QLineEdit *>("edit1000")->setText(QString::fromLatin1(c.minKB));
        dialog.findChild<QLineEdit *>("edit1001")->setText(QString::fromLatin1(c.maxKB));
        dialog.findChild<QPushButton *>("button1023")->click();

        const bool accepted = c.message == nullptr;
        EXPECT_EQ(dialog.isVisible(), !accepted);
        // The message names the wrong fields and their ranges.
        EXPECT_EQ(prompts.messages, accepted ? QStringList() : QStringList{QString::fromUtf8(c.message)});
        if (!accepted) {
            // The first wrong field takes the focus.
            const char *first = c.message == std::string("参数错误：超时应不少于 10 秒") ? "edit1003" : "edit1002";
            EXPECT_EQ(dialog.focusWidget(), dialog.findChild<QLineEdit *>(first));
            dialog.reject(); // closed another way afterwards
        }
        EXPECT_EQ(dialog.result(), accepted ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(record.wThreads, c.stored.wThreads);
        EXPECT_EQ(record.wTimeout, c.stored.wTimeout);
        EXPECT_EQ(record.wMinKB, c.stored.wMinKB);
        EXPECT_EQ(record.wMaxKB, c.stored.wMaxKB);
    }
}

// ---------------------------------------------------------------------------------
// CDlgSaveSet

TEST_F(WidgetsTest, SaveSetStoresAtMost38CharactersAndTheChoices)
{
    ST_SAVESET record{};
    SetFieldText(record.szSuffix, QStringLiteral("_x"));
    record.byNameBase = 1;
    record.byFolderName = 0;
    CDlgSaveSet dialog(&record);
    EXPECT_EQ(dialog.findChild<QLineEdit *>("edit1001")->text(), "_x");
    // Every box has its label; "替换" names the replace-what box.
    auto *replaceLabel = dialog.findChild<QLabel *>("labelReplaceWhat");
    ASSERT_NE(replaceLabel, nullptr);
    EXPECT_EQ(replaceLabel->text(), QStringLiteral("替换"));
    EXPECT_EQ(replaceLabel->buddy(), dialog.findChild<QLineEdit *>("edit1021"));
    EXPECT_TRUE(dialog.findChild<QRadioButton *>("radio1017")->isChecked());
    EXPECT_TRUE(dialog.findChild<QRadioButton *>("radio1019")->isChecked());

    const QString fifty(50, QLatin1Char('p'));
    const QString pairAtTheEnd = QString(37, QLatin1Char('s')) + QString::fromUtf8("😀");
    dialog.findChild<QLineEdit *>("edit1000")->setText(fifty);
    dialog.findChild<QLineEdit *>("edit1001")->setText(pairAtTheEnd);
    dialog.findChild<QLineEdit *>("edit1021")->setText(QStringLiteral("替换"));
    dialog.findChild<QLineEdit *>("edit1003")->setText(QStringLiteral("?9"));
    dialog.findChild<QRadioButton *>("radio1018")->setChecked(true);
    dialog.findChild<QRadioButton *>("radio1020")->setChecked(true);
    dialog.open();
    dialog.findChild<QPushButton *>("button1023")->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(FieldText(record.szPrefix), fifty.left(38));
    EXPECT_EQ(FieldText(record.szSuffix), pairAtTheEnd.left(37)) << "a surrogate pair is not split";
    EXPECT_EQ(FieldText(record.szReplaceWhat), QStringLiteral("替换"));
    EXPECT_EQ(FieldText(record.szFolderSuffix), QStringLiteral("?9"));
    EXPECT_EQ(record.byNameBase, 2);
    EXPECT_EQ(record.byFolderName, 1);
}

TEST_F(WidgetsTest, SaveSetLinkShowsTheHelpText)
{
    ST_SAVESET record{};
    CDlgSaveSet dialog(&record);
    dialog.findChild<QPushButton *>("link1010")->click();
    ASSERT_EQ(prompts.messages.size(), 1);
    const QString help = prompts.messages.first();
    EXPECT_TRUE(help.startsWith(QStringLiteral("设置前后缀，可以在图片本来的文件名前后加上指定的字符\n")));
    EXPECT_TRUE(help.contains(QStringLiteral("则文件名为p_sample_x.jpg\n相册名那里前后缀一样\n")));
    EXPECT_TRUE(help.endsWith(QStringLiteral("?9:相册在列表中的序号(格式为：0001,0002,0003...)")));
    EXPECT_FALSE(help.contains(QStringLiteral("?8")));
}

// ---------------------------------------------------------------------------------
// CDlgFind

class FindDialogTest : public GridTest {
protected:
    void SetUp() override
    {
        GridTest::SetUp();
        FillList({"cat", "dog", "catalog", "bird"});
        find.SetGrid(&grid);
        find.SetMode(1);
        find.show();
    }
    void Press(const char *button) { find.findChild<QPushButton *>(button)->click(); }
    void Keyword(const QString &text) { find.findChild<QLineEdit *>("edit1639")->setText(text); }
    CDlgFind find;
};

TEST_F(FindDialogTest, NextAndPreviousWrapAround)
{
    Keyword(QStringLiteral(" CAT "));
    Press("button1006");
    EXPECT_EQ(grid.FocusRow(), 1) << "no focus row: the search starts at the top";
    Press("button1006");
    EXPECT_EQ(grid.FocusRow(), 3);
    Press("button1006");
    EXPECT_EQ(grid.FocusRow(), 1) << "the last match wraps to the first";
    Press("button1701");
    EXPECT_EQ(grid.FocusRow(), 3) << "the first match wraps back to the last";
    Press("button1701");
    EXPECT_EQ(grid.FocusRow(), 1);

    find.findChild<QCheckBox *>("check1033")->setChecked(true);
    Press("button1006");
    EXPECT_EQ(grid.FocusRow(), 1) << "match case: CAT is nowhere, the selection stays";
    EXPECT_EQ(SelectedRows(), QList<int>{1});
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("找不到“CAT”")}) << "a miss says so";
}

TEST_F(FindDialogTest, EmptyKeywordIsReportedOnce)
{
    Keyword(QStringLiteral("   "));
    Press("button1006");
    EXPECT_EQ(prompts.messages, QStringList{"关键字不能为空"});
}

TEST_F(FindDialogTest, CloseHidesTheFindBox)
{
    int closed = 0;
    QObject::connect(&find, &CDlgFind::findClosed, [&] { ++closed; });
    Press("button1699");
    EXPECT_FALSE(find.isVisible());
    EXPECT_EQ(closed, 1);
}

TEST_F(FindDialogTest, FilterModeTakesTheTrimmedKeyword)
{
    struct {
        const char *typed;
        const char *keyword;
    } const cases[] = {{"   ", ""}, {" do g ", "do g"}};
    for (const auto &c : cases) {
        CDlgFind filter;
        filter.SetMode(0);
        EXPECT_TRUE(filter.findChild<QCheckBox *>("check1033")->isHidden());
        EXPECT_TRUE(filter.findChild<QPushButton *>("button1701")->isHidden());
        EXPECT_EQ(filter.findChild<QPushButton *>("button1006")->text(), "筛选");
        filter.open();
        filter.findChild<QLineEdit *>("edit1639")->setText(QString::fromLatin1(c.typed));
        filter.findChild<QPushButton *>("button1006")->click();
        EXPECT_EQ(filter.result(), QDialog::Accepted);
        EXPECT_EQ(filter.Keyword(), QString::fromLatin1(c.keyword));
    }

    CDlgFind cancelled;
    cancelled.SetMode(0);
    cancelled.open();
    cancelled.findChild<QPushButton *>("button1699")->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

} // namespace
