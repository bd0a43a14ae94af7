#include "ui/DlgSaveSet.h"

#include "ui/UserPrompts.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLineEdit *MakeEdit(const char *name, const char16_t *field)
{
    auto *edit = new QLineEdit(FieldText(field, SAVESET_TEXT_UNITS));
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QRadioButton *MakeRadio(const QString &text, const char *name, QButtonGroup *group, int id)
{
    auto *radio = new QRadioButton(text);
    radio->setObjectName(QLatin1String(name));
    group->addButton(radio, id);
    return radio;
}

// At most SAVESET_TEXT_MAX units, never ending inside a surrogate pair.
void StoreText(char16_t (&field)[SAVESET_TEXT_UNITS], const QString &text)
{
    qsizetype length = std::min<qsizetype>(text.size(), SAVESET_TEXT_MAX);
    if (length < text.size() && length > 0 && text.at(length - 1).isHighSurrogate())
        --length;
    SetFieldText(field, text.left(length), SAVESET_TEXT_MAX);
}

} // namespace

CDlgSaveSet::CDlgSaveSet(ST_SAVESET *record, QWidget *parent)
    : QDialog(parent)
    , m_record(record)
{
    setWindowTitle(tr("设置"));

    m_prefix = MakeEdit("edit1000", record->szPrefix);
    m_suffix = MakeEdit("edit1001", record->szSuffix);
    m_replaceWhat = MakeEdit("edit1021", record->szReplaceWhat);
    m_replaceWith = MakeEdit("edit1022", record->szReplaceWith);
    m_folderPrefix = MakeEdit("edit1002", record->szFolderPrefix);
    m_folderSuffix = MakeEdit("edit1003", record->szFolderSuffix);

    // File name: prefix, base, suffix; then the replacement.
    auto *nameBox = new QGroupBox(tr("文件名"));
    auto *nameGroup = new QButtonGroup(this);
    m_nameBase[0] = MakeRadio(tr("描述"), "radio1016", nameGroup, 0);
    m_nameBase[1] = MakeRadio(tr("序号"), "radio1017", nameGroup, 1);
    m_nameBase[2] = MakeRadio(tr("网址"), "radio1018", nameGroup, 2);
    auto *nameGrid = new QGridLayout(nameBox);
    nameGrid->addWidget(new QLabel(tr("前缀")), 0, 0);
    nameGrid->addWidget(m_prefix, 0, 1);
    auto *baseRow = new QHBoxLayout;
    for (QRadioButton *radio : m_nameBase)
        baseRow->addWidget(radio);
    nameGrid->addLayout(baseRow, 0, 2);
    nameGrid->addWidget(new QLabel(tr("后缀")), 0, 3);
    nameGrid->addWidget(m_suffix, 0, 4);
    auto *replaceLabel = new QLabel(tr("替换"));
    replaceLabel->setObjectName(QStringLiteral("labelReplaceWhat"));
    replaceLabel->setBuddy(m_replaceWhat);
    nameGrid->addWidget(replaceLabel, 1, 0);
    nameGrid->addWidget(m_replaceWhat, 1, 1);
    nameGrid->addWidget(new QLabel(tr("替换为")), 1, 2, Qt::AlignRight);
    nameGrid->addWidget(m_replaceWith, 1, 4);

    // Album folder: prefix, album name or none, suffix.
    auto *folderBox = new QGroupBox(tr("相册路径(相册名)"));
    auto *folderGroup = new QButtonGroup(this);
    m_folderName[0] = MakeRadio(tr("相册名"), "radio1019", folderGroup, 0);
    m_folderName[1] = MakeRadio(tr("无"), "radio1020", folderGroup, 1);
    auto *folderGrid = new QGridLayout(folderBox);
    folderGrid->addWidget(new QLabel(tr("前缀")), 0, 0);
    folderGrid->addWidget(m_folderPrefix, 0, 1);
    auto *folderRow = new QHBoxLayout;
    for (QRadioButton *radio : m_folderName)
        folderRow->addWidget(radio);
    folderGrid->addLayout(folderRow, 0, 2);
    folderGrid->addWidget(new QLabel(tr("后缀")), 0, 3);
    folderGrid->addWidget(m_folderSuffix, 0, 4);

    // A value outside a group checks none of its buttons.
    if (record->byNameBase < 3)
        m_nameBase[record->byNameBase]->setChecked(true);
    if (record->byFolderName < 2)
        m_folderName[record->byFolderName]->setChecked(true);

    auto *help = new QPushButton(tr("前后缀说明"));
    help->setObjectName(QStringLiteral("link1010"));
    help->setFlat(true);
    help->setAutoDefault(false);
    help->setCursor(Qt::PointingHandCursor);
    help->setStyleSheet(QStringLiteral("QPushButton { color: palette(link); text-decoration: underline; border: none; }"));
    connect(help, &QPushButton::clicked, this, [this] { Prompts().Message(this, HelpText()); });

    auto *ok = new QPushButton(tr("确 定"));
    ok->setObjectName(QStringLiteral("button1023"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CDlgSaveSet::OnOk);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(nameBox);
    layout->addWidget(folderBox);
    layout->addLayout(buttons);
}

QString CDlgSaveSet::HelpText()
{
    return tr("设置前后缀，可以在图片本来的文件名前后加上指定的字符\n"
              "例如：图片原名为sample.jpg，前缀为空，后缀为_x，则文件名为sample_x.jpg\n"
              "前缀为p_，后缀为_x，则文件名为p_sample_x.jpg\n"
              "相册名那里前后缀一样\n同时，支持转义字符，当前后缀中含有转义字符时，程序会将转义字符转换为转义字符所表示的字符串\n"
              "转义字符如下（问号为英文的问号，相册名的转义字符只支持?1,?3,?9）：\n"
              "?1:相册名称\n?2:图片在相册中的序号\n?3:相册在列表中的序号(格式为：1,2,3...)\n?4:未定义\n?5:未定义\n"
              "?6:选中的相册数\n?7:总共的相册数(选中的+未选中的)\n?9:相册在列表中的序号(格式为：0001,0002,0003...)");
}

void CDlgSaveSet::OnOk()
{
    StoreText(m_record->szPrefix, m_prefix->text());
    StoreText(m_record->szSuffix, m_suffix->text());
    StoreText(m_record->szReplaceWhat, m_replaceWhat->text());
    StoreText(m_record->szReplaceWith, m_replaceWith->text());
    StoreText(m_record->szFolderPrefix, m_folderPrefix->text());
    StoreText(m_record->szFolderSuffix, m_folderSuffix->text());
    // With no button of a group checked the stored choice stays as it was: its
    // position, -1, would be a byte value no naming rule knows.
    for (int i = 0; i < 3; ++i) {
        if (m_nameBase[i]->isChecked())
            m_record->byNameBase = uint8_t(i);
    }
    for (int i = 0; i < 2; ++i) {
        if (m_folderName[i]->isChecked())
            m_record->byFolderName = uint8_t(i);
    }
    accept();
}
