#include "app/AmbrelDlg.h"

#include "app/AmbrelApp.h"
#include "core/AppState.h"
#include "source/RunControl.h"
#include "source/ChangeSource.h"
#include "core/SiteConfig.h"
#include "core/Version.h"
#include "net/Reasons.h"
#include "settings/RequestSettings.h"
#include "splash/SplashScreenEx.h"
#include "ui/ComboBox2.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgFailList.h"
#include "ui/DlgFind.h"
#include "ui/DlgSaveSet.h"
#include "ui/DlgWebOpen.h"
#include "ui/MyGridCtrl.h"
#include "ui/SiteModes.h"
#include "ui/UserPrompts.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The classic window: 471 x 323 dialog units. A dialog unit is a quarter of the font's
// average character width across and an eighth of its height down.
constexpr int kClassicWidthUnits = 471;
constexpr int kClassicHeightUnits = 323;
// Where the window keeps its size and place (corvadin.ini).
const QString kGeometryKey = QStringLiteral("Window/Geometry");

// The program's icon: the installed theme's, else the built-in drawing, which stays
// sharp at any scale (SVG), with a picture for where SVG cannot be read.
QIcon AppIcon()
{
    QIcon builtIn(QStringLiteral(":/corvadin.svg"));
    builtIn.addFile(QStringLiteral(":/corvadin.png"), QSize(128, 128));
    return QIcon::fromTheme(QStringLiteral("org.corvadin.Corvadin"), builtIn);
}

QString ctlName(int id)
{
    return QStringLiteral("ctl%1").arg(id);
}

QLabel *makeLink(QWidget *parent, int id, const QString &text)
{
    auto *link = new QLabel(parent);
    link->setObjectName(ctlName(id));
    link->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(id).arg(text.toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    return link;
}

QString withSeparator(QString path)
{
    if (!path.endsWith(QDir::separator()))
        path += QDir::separator();
    return path;
}

} // namespace

template <typename F> void CAmbrelDlg::OnGui(F &&f)
{
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

template <typename R, typename F> R CAmbrelDlg::AskGui(F &&f, R fallback)
{
    if (QThread::currentThread() == thread())
        return f();
    if (m_closing)
        return fallback;
    // The GUI thread keeps serving events until every run thread has been joined (see
    // Shutdown), so this call is always answered.
    R result = fallback;
    QMetaObject::invokeMethod(this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

CAmbrelDlg::CAmbrelDlg(AppState &app, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      m_app(app)
{
    setObjectName(QStringLiteral("dialog102"));
    setAcceptDrops(true);
    BuildControls();
    BuildMenus();
}

CAmbrelDlg::~CAmbrelDlg()
{
    if (!m_shutdownDone)
        Shutdown();
    // The browser pages go before their profile.
    for (const QPointer<CDlgWebOpen> &login : std::as_const(m_loginWindows))
        delete login.data();
    m_loginWindows.clear();
    delete m_loginProfile.data();
}

// ---------------------------------------------------------------------------------------
// Controls and menus

void CAmbrelDlg::BuildControls()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menu129"));
    layout->setMenuBar(m_menuBar);
    m_client = new QWidget(this);
    layout->addWidget(m_client);
    QWidget *c = m_client;

    // Created in the template's order, which is also the tab order.
    m_notice = new QLabel(c);
    m_notice->setObjectName(ctlName(IDC_NOTICE));
    m_notice->setWordWrap(true);
    // Stands out by its weight, in the theme's own text colour (a fixed colour can
    // vanish on a dark theme).
    QFont noticeFont = m_notice->font();
    noticeFont.setBold(true);
    m_notice->setFont(noticeFont);

    m_siteMode = new QComboBox(c);
    m_siteMode->setObjectName(ctlName(IDC_SITEMODE));
    m_siteMode->setMaxVisibleItems(24);
    m_siteMode->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_siteMode->setMinimumContentsLength(7);

    m_albumKind = new QComboBox(c);
    m_albumKind->setObjectName(ctlName(IDC_ALBUMKIND));
    m_albumKind->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_albumKind->setMinimumContentsLength(6);

    m_address = new CComboBox2(c);
    m_address->setObjectName(ctlName(IDC_ADDRESS));
    m_address->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_address->setMinimumContentsLength(12);

    m_listButton = new QPushButton(tr("获取相册"), c);
    m_listButton->setObjectName(ctlName(IDC_LIST));
    m_listButton->setDefault(true);

    m_downloadButton = new QPushButton(tr("下载"), c);
    m_downloadButton->setObjectName(ctlName(IDC_DOWNLOAD));
    m_downloadButton->setAutoDefault(false);
    m_downloadButton->setEnabled(false);

    auto *saveLabel = new QLabel(tr("保存路径:"), c);
    saveLabel->setObjectName(QStringLiteral("ctlSaveLabel"));

    m_savePath = new CComboBox2(c);
    m_savePath->setObjectName(ctlName(IDC_SAVEPATH));
    m_savePath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_savePath->setMinimumContentsLength(12);
    saveLabel->setBuddy(m_savePath);

    m_chooseButton = new QPushButton(tr("设置"), c);
    m_chooseButton->setObjectName(ctlName(IDC_CHOOSE));
    m_chooseButton->setAutoDefault(false);

    m_openButton = new QPushButton(tr("打开"), c);
    m_openButton->setObjectName(ctlName(IDC_OPEN));
    m_openButton->setAutoDefault(false);

    m_frame = new QGroupBox(tr("相册列表"), c);
    m_frame->setObjectName(ctlName(IDC_FRAME));

    m_grid = new CMyGridCtrl(m_frame);
    m_grid->setObjectName(ctlName(IDC_GRID));

    m_selectAll = new QCheckBox(tr("全选"), c);
    m_selectAll->setObjectName(ctlName(IDC_SELECTALL));

    m_thumbs = new QCheckBox(tr("预览图"), c);
    m_thumbs->setObjectName(ctlName(IDC_THUMBS));

    m_findLink = makeLink(c, IDC_FIND, tr("查找"));
    m_findLink->setToolTip(tr("查找相册（Ctrl+F）"));
    m_filterLink = makeLink(c, IDC_FILTER, tr("筛选"));
    m_exportLink = makeLink(c, IDC_EXPORT, tr("导出"));

    // Both lines stay empty until there is something to say.
    m_phase = new QLabel(c);
    m_phase->setObjectName(ctlName(IDC_PHASE));
    m_phase->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // long texts never widen the window

    m_progress = new QLabel(c);
    m_progress->setObjectName(ctlName(IDC_PROGRESS));
    m_progress->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_productLink = makeLink(c, IDC_PRODUCT, tr("Corvadin 主页"));
    m_productLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    // Rows top to bottom; the album list takes whatever room the window has.
    auto *top = new QHBoxLayout;
    top->addWidget(m_siteMode);
    top->addWidget(m_albumKind);
    top->addWidget(m_address, 1);
    top->addWidget(m_listButton);
    top->addWidget(m_downloadButton);
    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(saveLabel);
    saveRow->addWidget(m_savePath, 1);
    saveRow->addWidget(m_chooseButton);
    saveRow->addWidget(m_openButton);
    auto *status = new QHBoxLayout;
    status->addWidget(m_phase, 3);
    status->addWidget(m_progress, 2);
    auto *frame = new QVBoxLayout(m_frame);
    frame->addWidget(m_grid);
    auto *bottom = new QHBoxLayout;
    bottom->setSpacing(12);
    for (QWidget *w : {static_cast<QWidget *>(m_selectAll), static_cast<QWidget *>(m_thumbs),
                       static_cast<QWidget *>(m_findLink), static_cast<QWidget *>(m_filterLink),
                       static_cast<QWidget *>(m_exportLink)})
        bottom->addWidget(w);
    bottom->addStretch(1);
    bottom->addWidget(m_productLink);
    auto *rows = new QVBoxLayout(c);
    rows->addWidget(m_notice);
    rows->addLayout(top);
    rows->addLayout(saveRow);
    rows->addLayout(status);
    rows->addWidget(m_frame, 1);
    rows->addLayout(bottom);

    connect(m_listButton, &QPushButton::clicked, this, &CAmbrelDlg::OnListCommand);
    connect(m_downloadButton, &QPushButton::clicked, this, &CAmbrelDlg::OnDownloadCommand);
    connect(m_chooseButton, &QPushButton::clicked, this, &CAmbrelDlg::OnChooseFolder);
    connect(m_openButton, &QPushButton::clicked, this, &CAmbrelDlg::OnOpenFolder);
    connect(m_selectAll, &QCheckBox::clicked, this, &CAmbrelDlg::OnSelectAll);
    connect(m_thumbs, &QCheckBox::clicked, this, &CAmbrelDlg::OnThumbToggle);
    connect(m_findLink, &QLabel::linkActivated, this, &CAmbrelDlg::OnFind);
    connect(m_filterLink, &QLabel::linkActivated, this, &CAmbrelDlg::OnFilter);
    connect(m_exportLink, &QLabel::linkActivated, this, &CAmbrelDlg::OnExport);
    connect(m_productLink, &QLabel::linkActivated, this, &CAmbrelDlg::OnProductLink);
    connect(m_siteMode, &QComboBox::activated, this, &CAmbrelDlg::ApplySiteMode);
    connect(m_address, &CComboBox2::editTextChangedByUser, this, &CAmbrelDlg::ClassifyAddress);
    connect(m_address, &QComboBox::textActivated, this, [this](const QString &text) {
        if (!text.isEmpty())
            m_address->setEditText(text);
        ClassifyAddress();
    });
    // The run threads read copies of the box texts; any change refreshes them once the
    // box has settled (the boxes rewrite their edit while refilling their lists).
    const auto queueRefresh = [this] {
        if (m_boxRefreshQueued)
            return;
        m_boxRefreshQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_boxRefreshQueued = false;
            RefreshBoxTexts();
        });
    };
    connect(m_address->lineEdit(), &QLineEdit::textChanged, this, queueRefresh);
    connect(m_savePath->lineEdit(), &QLineEdit::textChanged, this, queueRefresh);
    // Drops anywhere on the window follow one rule (see OpenTargets): the boxes' own
    // edits would paste a dropped link into the middle of their text.
    m_address->lineEdit()->setAcceptDrops(false);
    m_savePath->lineEdit()->setAcceptDrops(false);

    // Keys: Ctrl+F finds, Esc stops what runs (keyPressEvent), Ctrl+Q closes.
    auto *find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        if (m_findLink->isEnabled())
            OnFind();
    });
    auto *quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
}

QAction *CAmbrelDlg::AddMenuEntry(QMenu *menu, int id, const QString &text)
{
    QAction *action = menu->addAction(text);
    action->setData(id);
    action->setObjectName(QStringLiteral("menu%1").arg(id));
    return action;
}

void CAmbrelDlg::BuildMenus()
{
    QMenu *login = m_menuBar->addMenu(tr("<登录>(&L)"));
    login->setObjectName(QStringLiteral("popupLogin"));
    const struct {
        int id;
        const char *text;
    } loginEntries[] = {
        {32781, QT_TR_NOOP("QQ空间/QQ群")},
        {32782, QT_TR_NOOP("腾讯微博（登录时勾上下次自动登录）")},
        {32789, QT_TR_NOOP("百度")},
        {32790, QT_TR_NOOP("网易")},
        {32791, QT_TR_NOOP("人人")},
        {32792, QT_TR_NOOP("又拍（下载器没弹窗提示你登录，就不要在这里登录）")},
        {32793, QT_TR_NOOP("美空")},
        {32794, QT_TR_NOOP("新浪微博（登录时勾上下次自动登录）")},
        {32803, QT_TR_NOOP("淘宝（强烈建议用小号登录）")},
        {32813, "56"},
        {32815, QT_TR_NOOP("虎扑")},
        {32795, QT_TR_NOOP("自定义登录")},
    };
    for (const auto &e : loginEntries)
        AddMenuEntry(login, e.id, tr(e.text));

    m_settingsMenu = m_menuBar->addMenu(tr("<设置>(&S)"));
    m_settingsMenu->setObjectName(QStringLiteral("popupSettings"));
    AddMenuEntry(m_settingsMenu, ID_DOWNSET, tr("下载参数设置(&D)..."));
    AddMenuEntry(m_settingsMenu, ID_SAVESET, tr("文件名设置(&N)..."));
    m_settingsMenu->addSeparator();
    const auto option = [this](int id, const char *text) {
        AddMenuEntry(m_settingsMenu, id, tr(text))->setCheckable(true);
    };
    option(ID_OPT_LIST, QT_TR_NOOP("只生成迅雷下载列表"));
    option(ID_OPT_NAMES, QT_TR_NOOP("生成图片原始名文件"));
    m_settingsMenu->addSeparator();
    option(ID_OPT_ORDER, QT_TR_NOOP("修正图片顺序"));
    option(ID_OPT_FORMAT, QT_TR_NOOP("修正图片格式"));
    option(ID_OPT_SKIP, QT_TR_NOOP("不下载以前下载过的图片"));
    option(ID_OPT_OPEN, QT_TR_NOOP("下载完成后打开保存路径"));
    m_settingsMenu->addSeparator();
    option(ID_OPT_TAOBAO_MAIN, QT_TR_NOOP("只下载淘宝宝贝主图"));
    option(ID_OPT_TAOBAO_DESC, QT_TR_NOOP("只下载宝贝描述里的图片"));
    option(ID_OPT_YUPOO, QT_TR_NOOP("又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）"));
    connect(m_settingsMenu, &QMenu::aboutToShow, this, &CAmbrelDlg::RefreshSettingsMenu);

    // These entries carry no action in this program: shown, but disabled.
    QMenu *transfer = m_menuBar->addMenu(tr("<导入/导出>(&I)"));
    transfer->setObjectName(QStringLiteral("popupTransfer"));
    AddMenuEntry(transfer, ID_IMPORT_LIST, tr("导入下载文件并开始下载"))->setEnabled(false);
    transfer->addSeparator();
    AddMenuEntry(transfer, ID_EXPORT_LIST, tr("导出下载文件"))->setEnabled(false);
    AddMenuEntry(transfer, ID_EXPORT_XUNLEI, tr("导出迅雷下载列表"))->setEnabled(false);

    // The file-processing tool is not part of this program.
    QMenu *tools = m_menuBar->addMenu(tr("<辅助功能>(&T)"));
    tools->setObjectName(QStringLiteral("popupTools"));
    AddMenuEntry(tools, ID_FILETOOL, tr("文件处理"))->setEnabled(false);

    // Only makes room before the help menu.
    QAction *spacer = m_menuBar->addAction(QString(13, QLatin1Char(' ')));
    spacer->setData(0);
    spacer->setObjectName(QStringLiteral("menu0"));
    spacer->setEnabled(false);

    // The help entries open the README installed with the program.
    QMenu *help = m_menuBar->addMenu(tr("<帮助>(&H)"));
    help->setObjectName(QStringLiteral("popupHelp"));
    AddMenuEntry(help, ID_USAGE, tr("使用说明(&U)"))->setShortcut(QKeySequence::HelpContents);
    AddMenuEntry(help, ID_CONSULT, tr("软件咨询(&C)"));
    AddMenuEntry(help, ID_FEEDBACK, tr("问题反馈(&F)"));
    help->addSeparator();
    AddMenuEntry(help, ID_ABOUT, tr("版本信息(&V)"));
    // Linux window managers keep their window menus to themselves; the about entry of
    // the system menu lives here instead (macOS moves it to the application menu).
    QAction *about = AddMenuEntry(help, ID_SYS_ABOUT, tr("关于(&A)"));
    about->setMenuRole(QAction::AboutRole);

    connect(m_menuBar, &QMenuBar::triggered, this, &CAmbrelDlg::OnMenuCommand);
    RefreshSettingsMenu();
}

QString CAmbrelDlg::ReadmeFile()
{
    // Installed: <prefix>/share/doc/corvadin beside <prefix>/bin; in a build tree, the
    // source's own.
    const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/" CORVADIN_DOC_FROM_BIN "/README.md");
    for (const QString &file : {installed, QStringLiteral(CORVADIN_SOURCE_DIR "/README.md")}) {
        if (QFileInfo(file).isFile())
            return QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
    }
    return {};
}

void CAmbrelDlg::OnHelp()
{
    const QString readme = ReadmeFile();
    // Without the README (a system that leaves out documentation), the project's page.
    Prompts().OpenUrl(readme.isEmpty() ? SiteTexts::ProductPage() : readme);
}

void CAmbrelDlg::OnMenuCommand(QAction *action)
{
    if (m_closing)
        return;
    switch (action->data().toInt()) {
    case ID_DOWNSET: OnDownloadSettings(); break;
    case ID_SAVESET: OnNamingSettings(); break;
    case ID_OPT_LIST: ToggleOption(OPT_LIST_ONLY); break;
    case ID_OPT_NAMES: ToggleOption(OPT_NAMES_FILE); break;
    case ID_OPT_ORDER: ToggleOption(OPT_FIX_ORDER); break;
    case ID_OPT_FORMAT: ToggleOption(OPT_FIX_FORMAT); break;
    case ID_OPT_SKIP: ToggleOption(OPT_SKIP_DOWNLOADED); break;
    case ID_OPT_OPEN: ToggleOption(OPT_OPEN_FOLDER); break;
    case ID_OPT_TAOBAO_MAIN: ToggleOption(OPT_TAOBAO_MAIN); break;
    case ID_OPT_TAOBAO_DESC: ToggleOption(OPT_TAOBAO_DESC); break;
    case ID_OPT_YUPOO: ToggleOption(OPT_YUPOO_LARGE); break;
    case ID_ABOUT:
    case ID_SYS_ABOUT: OnAbout(); break;
    case ID_FEEDBACK:
    case ID_CONSULT:
    case ID_USAGE: OnHelp(); break;
    default:
        // Login entries are those with a start page; the disabled entries and the
        // spacer carry no action.
        if (!SiteModes::LoginPage(action->data().toInt(), m_app.site.HomePage()).isEmpty())
            OnLoginCommand(action->data().toInt());
        break;
    }
    RefreshSettingsMenu();
}

// ---------------------------------------------------------------------------------------
// Login windows

void CAmbrelDlg::OnLoginCommand(int id)
{
    QString start = SiteModes::LoginPage(id, m_app.site.HomePage());
    if (start.isEmpty())
        return;
    if (id == ID_LOGIN_QQ) {
        const QString text = m_address->currentText();
        const bool digitsOnly = std::all_of(text.begin(), text.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
        if (digitsOnly && m_albumKind->currentIndex() == 0)
            start += text;
    }
    OpenLoginWindow(start);
}

CDlgWebOpen *CAmbrelDlg::OpenLoginWindow(const QString &startAddress)
{
    auto *login = new CDlgWebOpen(LoginProfile()->Profile(), this);
    login->SetStartAddress(startAddress);
    login->Initialise();
    login->show();
    m_loginWindows.append(login);
    return login;
}

CDlgWebOpen *CAmbrelDlg::LoginWindow() const
{
    return m_loginWindows.isEmpty() ? nullptr : m_loginWindows.last().data();
}

CLoginProfile *CAmbrelDlg::LoginProfile()
{
    if (!m_loginProfile)
        m_loginProfile = new CLoginProfile(m_app.profile.browserFolder(), m_app.profile.browserCacheFolder(), this);
    return m_loginProfile;
}

void CAmbrelDlg::RefreshSettingsMenu()
{
    uint16_t options;
    {
        std::lock_guard lock(m_app.settingsMutex);
        options = m_app.settings.SaveSet[SITE_MODE_BOARD].wOptions;
    }
    const int mode = SITE_MODE_BOARD; // the active site mode is always the board site
    const struct {
        int id;
        uint16_t flag;
        int onlyInMode; // -1: always enabled
    } flags[] = {
        {ID_OPT_LIST, OPT_LIST_ONLY, -1},      {ID_OPT_NAMES, OPT_NAMES_FILE, -1},
        {ID_OPT_ORDER, OPT_FIX_ORDER, -1},     {ID_OPT_FORMAT, OPT_FIX_FORMAT, -1},
        {ID_OPT_SKIP, OPT_SKIP_DOWNLOADED, -1}, {ID_OPT_OPEN, OPT_OPEN_FOLDER, -1},
        {ID_OPT_TAOBAO_MAIN, OPT_TAOBAO_MAIN, 11}, {ID_OPT_TAOBAO_DESC, OPT_TAOBAO_DESC, 11},
        {ID_OPT_YUPOO, OPT_YUPOO_LARGE, 7},
    };
    for (QAction *action : m_settingsMenu->actions()) {
        const int id = action->data().toInt();
        for (const auto &f : flags) {
            if (f.id != id)
                continue;
            action->setChecked((options & f.flag) != 0);
            action->setEnabled(f.onlyInMode < 0 || f.onlyInMode == mode);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Start-up

void CAmbrelDlg::Initialise(const Startup &startup)
{
    m_startup = startup;
    setWindowTitle(QStringLiteral("Corvadin"));
    setWindowIcon(AppIcon());
    m_notice->setText(SiteTexts::NoticeLine());
    SetupColumns();

    const QString clip = GetClipboardText().trimmed();
    if (!clip.isEmpty() && clip.size() < 200)
        m_address->setEditText(clip);

    m_app.Initialise();
    {
        std::lock_guard lock(m_app.settingsMutex);
        for (int i = 0; i < HISTORY_COUNT; ++i) {
            const QString address = FieldText(m_app.settings.AddressHistory[i]);
            if (!address.isEmpty())
                m_address->AddItemText(address);
            const QString path = FieldText(m_app.settings.SavePathHistory[i]);
            if (!path.isEmpty())
                m_savePath->AddItemText(path);
        }
    }
    // The newest save-path history entry, else the working folder (or Documents/Corvadin
    // when the working folder is a temporary one).
    m_savePath->setEditText(m_app.StartupSavePath());
    if (!m_startup.address.isEmpty())
        m_address->setEditText(m_startup.address);
    RefreshBoxTexts();
    OpenTargets(m_startup.targets);
    RefreshSettingsMenu();
    PlaceWindow();

    if (m_startup.splash) {
        m_splash = new CSplashScreenEx(this);
        m_splash->SetBitmap(QPixmap(QStringLiteral(":/splash.png")), QPixmap(QStringLiteral(":/splash@2x.png")));
        m_splash->SetText(SiteTexts::SplashText());
        m_splash->ShowSplash();
    }
    try {
        m_startupThread = std::thread([this] { StartupWorker(); });
    } catch (const std::system_error &) {
        // Without the worker, do its work here.
        OnStartupDone();
        StartupWorker();
    }
    hide();
}

void CAmbrelDlg::StartupWorker()
{
    OnGui([this] { OnStartupDone(); });
    AskGui([this] {
        const QSignalBlocker blocker(m_siteMode);
        m_siteMode->clear();
        m_siteMode->addItems(SiteModes::ModeNames());
        m_siteMode->setCurrentIndex(SITE_MODE_BOARD);
        return true;
    }, false);
    AskGui([this] {
        ClassifyAddress();
        return true;
    }, false);
    m_app.ready = 1;
    AskGui([this] {
        ApplySiteMode();
        return true;
    }, false);
    m_startupFinished = true;
    if (m_startup.autoStart) {
        OnGui([this] {
            if (!m_closing)
                OnListCommand();
        });
    }
}

void CAmbrelDlg::OnStartupDone()
{
    if (m_closing)
        return;
    if (m_splash)
        m_splash->FadeOutAndDestroy();
    show();
    raise();
    activateWindow();
    m_app.ready = 1;
}

// ---------------------------------------------------------------------------------------
// Site modes

void CAmbrelDlg::ClassifyAddress()
{
    const QString text = m_address->currentText();
    if (!text.contains(QStringLiteral("http://")) && !text.contains(QStringLiteral("https://")))
        return;
    int kind = 0;
    const int mode = ClassifySiteMode(text, m_siteMode->currentIndex(), m_app.site.siteHost, &kind);
    m_siteMode->setCurrentIndex(mode);
    ApplySiteMode();
    if (m_siteMode->currentIndex() == 0)
        m_albumKind->setCurrentIndex(kind);
}

void CAmbrelDlg::ApplySiteMode()
{
    // The active mode is always the board site; the list only changes the top row. The
    // run threads own the source fields while they run.
    if (m_app.ListState == 0 && m_app.DownState == 0)
        m_app.source.siteMode = SITE_MODE_BOARD;
    // The row's layout gives the address box the album-kind list's room while it is hidden.
    if (m_siteMode->currentIndex() == 0) {
        m_albumKind->clear();
        m_albumKind->addItems(SiteModes::AlbumKindNames());
        m_albumKind->show();
        m_albumKind->setCurrentIndex(0);
    } else {
        m_albumKind->hide();
    }
    m_client->layout()->activate();
}

// ---------------------------------------------------------------------------------------
// Grid

void CAmbrelDlg::SetupColumns()
{
    m_selectAll->setChecked(false);
    m_grid->SetupColumns(m_app.bThumbMode != 0, m_app.thumbWidth, m_app.thumbsPerRow);
}

void CAmbrelDlg::OnSelectAll()
{
    if (m_selectAll->isChecked())
        m_grid->SelectAllCells();
    else
        m_grid->clearSelection();
}

void CAmbrelDlg::WaitForRebuild()
{
    // The rebuild thread may be waiting for the GUI thread (GridAppendRow), so wait by
    // serving events, never by joining a running thread.
    if (RequestStop(m_app.ConvertState, 2)) {
        while (m_app.ConvertState != 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (m_rebuildThread.joinable())
        m_rebuildThread.join(); // done: ConvertState is back at 0
}

void CAmbrelDlg::OnThumbToggle()
{
    if (m_closing)
        return;
    if (m_app.ListState != 0) {
        // A retrieval is filling the grid (the box is about to be disabled).
        m_thumbs->setChecked(!m_thumbs->isChecked());
        return;
    }
    if (m_app.ConvertState != 0) {
        // The rebuild may have ended while the question was open: then there is nothing
        // left to stop.
        if (Prompts().AskYesNo(this, tr("模式转换未完成,是否中断?"), tr("提示")))
            RequestStop(m_app.ConvertState, 2);
        m_thumbs->setChecked(!m_thumbs->isChecked()); // undo the click
        return;
    }
    const bool thumbs = m_thumbs->isChecked();
    if (thumbs && m_findBox)
        m_findBox->hide();
    if (m_rebuildThread.joinable())
        m_rebuildThread.join(); // ConvertState 0: the last rebuild has ended
    m_app.ConvertState = 1;
    m_app.bThumbMode = thumbs ? 1 : 0;
    ApplyLinkStates();
    SetupColumns();
    if (m_listCounted) // a list was read: the rebuild shows all of it
        m_frame->setTitle(AlbumCountCaption(m_app.albums.count()));
    try {
        m_rebuildThread = std::thread([this] { RebuildAlbumRows(m_app, *this); });
    } catch (const std::system_error &) {
        m_app.ConvertState = 0;
    }
}

void CAmbrelDlg::ApplyLinkStates()
{
    // Find and filter work on list rows only; none of the three while a retrieval runs.
    const bool listMode = m_app.bThumbMode == 0;
    m_findLink->setEnabled(listMode && !m_listRunning);
    m_filterLink->setEnabled(listMode && !m_listRunning);
    m_exportLink->setEnabled(!m_listRunning);
}

CDlgFind *CAmbrelDlg::FindBox() const
{
    return m_findBox.data();
}

void CAmbrelDlg::OnFind()
{
    if (m_closing)
        return;
    if (!m_findBox) {
        m_findBox = new CDlgFind(this);
        m_findBox->setModal(false);
        connect(m_findBox, &CDlgFind::findClosed, this, [this] {
            m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
        });
    }
    // While the box is open a find selects one row at a time, and so does a click.
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_findBox->SetGrid(m_grid);
    m_findBox->SetMode(1);
    m_findBox->show();
    m_findBox->adjustSize();
    m_findBox->move(frameGeometry().center() - m_findBox->rect().center());
    m_findBox->raise();
    m_findBox->activateWindow();
}

void CAmbrelDlg::OnFilter()
{
    if (m_closing)
        return;
    if (m_findBox)
        m_findBox->hide();
    CDlgFind filter(this);
    filter.SetGrid(m_grid);
    filter.SetMode(0);
    if (filter.exec() != QDialog::Accepted)
        return;
    WaitForRebuild();
    const QString keyword = filter.Keyword();
    m_app.strFilter = keyword;
    m_grid->CutToHeader();
    RebuildAlbumRows(m_app, *this); // on this thread: every service call runs at once
    // The caption says that a filter is on and how much of the list it shows.
    const int total = m_app.albums.count();
    if (keyword.isEmpty())
        m_frame->setTitle(AlbumCountCaption(total));
    else
        m_frame->setTitle(tr("相册列表(筛选“%1”：显示%2个，共%3个)")
                              .arg(keyword)
                              .arg(m_grid->RowCount() - m_grid->FixedRows())
                              .arg(total));
}

QString CAmbrelDlg::AlbumCountCaption(int albums)
{
    return tr("相册列表(共%1个)").arg(albums);
}

void CAmbrelDlg::OnExport()
{
    if (!m_closing)
        m_grid->ExportCsv(ExistingSaveFolder());
}

void CAmbrelDlg::OnProductLink()
{
    Prompts().OpenUrl(SiteTexts::ProductPage());
}

// ---------------------------------------------------------------------------------------
// Save folder

void CAmbrelDlg::RememberSavePath(const QString &path)
{
    if (m_app.RememberAndSave(m_app.settings.SavePathHistory, path))
        m_savePath->AddItemText(path);
}

QString CAmbrelDlg::ExistingSaveFolder() const
{
    // The nearest folder that exists on the way to the save path (a folder not made yet
    // opens its parent).
    QString folder = m_savePath->currentText().trimmed();
    while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(QDir::cleanPath(folder)).path();
        if (parent == QDir::cleanPath(folder) || parent == QLatin1String("."))
            return {};
        folder = parent;
    }
    return folder;
}

void CAmbrelDlg::OnChooseFolder()
{
    if (m_closing)
        return;
    QString folder = Prompts().ChooseFolder(this, tr("请选择文件保存目录："), ExistingSaveFolder());
    if (folder.isEmpty())
        return;
    SetSaveFolder(folder);
}

void CAmbrelDlg::SetSaveFolder(const QString &folder)
{
    const QString path = withSeparator(QDir::toNativeSeparators(folder));
    m_savePath->setEditText(path);
    RefreshBoxTexts();
    RememberSavePath(path); // refuses 400 characters and more, and known paths
}

namespace {

bool isWebAddress(const QString &text)
{
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

} // namespace

void CAmbrelDlg::OpenTargets(const QStringList &targets)
{
    if (m_closing)
        return;
    QString address, folder;
    for (const QString &target : targets) {
        const QString text = target.trimmed();
        if (isWebAddress(text)) {
            if (address.isEmpty())
                address = text;
            continue;
        }
        const QUrl url(text);
        const QFileInfo info(url.isLocalFile() ? url.toLocalFile() : text);
        if (!folder.isEmpty() || text.isEmpty() || !info.exists())
            continue;
        folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    }
    if (!address.isEmpty()) {
        if (m_address->isEnabled()) {
            m_address->setEditText(address);
            RefreshBoxTexts();
            ClassifyAddress();
        } else {
            m_pendingAddress = address;
        }
    }
    if (!folder.isEmpty()) {
        if (m_savePath->isEnabled())
            SetSaveFolder(folder);
        else
            m_pendingSaveFolder = folder;
    }
}

void CAmbrelDlg::ApplyPendingTargets()
{
    QStringList targets;
    if (m_address->isEnabled() && !m_pendingAddress.isEmpty())
        targets << std::exchange(m_pendingAddress, QString());
    if (m_savePath->isEnabled() && !m_pendingSaveFolder.isEmpty())
        targets << std::exchange(m_pendingSaveFolder, QString());
    if (!targets.isEmpty())
        OpenTargets(targets);
}

void CAmbrelDlg::HandOver(const QStringList &targets)
{
    if (m_closing)
        return;
    OpenTargets(targets);
    // Before start-up is done the window shows itself when it is ready.
    if (!m_startupFinished && !isVisible())
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

namespace {

// What a drop carries, as OpenTargets takes it: every address or local path, or a web
// address dragged as text (a link's text from a page).
QStringList dropTargets(const QMimeData *mime)
{
    QStringList targets;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            targets << url.toLocalFile();
        else if (isWebAddress(url.toString()))
            targets << url.toString();
    }
    if (targets.isEmpty() && mime->hasText() && isWebAddress(mime->text().trimmed()))
        targets << mime->text().trimmed();
    return targets;
}

} // namespace

void CAmbrelDlg::dragEnterEvent(QDragEnterEvent *event)
{
    if (!m_closing && !dropTargets(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        QDialog::dragEnterEvent(event);
}

void CAmbrelDlg::dropEvent(QDropEvent *event)
{
    const QStringList targets = dropTargets(event->mimeData());
    if (targets.isEmpty() || m_closing) {
        QDialog::dropEvent(event);
        return;
    }
    OpenTargets(targets);
    event->acceptProposedAction();
}

void CAmbrelDlg::OnOpenFolder()
{
    if (m_closing)
        return;
    QString folder;
    if (m_app.bWorkersBusy)
        folder = m_app.downloads.folder();
    else
        folder = m_savePath->currentText().trimmed();
    if (!folder.isEmpty())
        Prompts().OpenUrl(folder);
}

// ---------------------------------------------------------------------------------------
// Menu commands

void CAmbrelDlg::ToggleOption(uint16_t flag)
{
    {
        std::lock_guard lock(m_app.settingsMutex);
        uint16_t &options = m_app.settings.SaveSet[SITE_MODE_BOARD].wOptions;
        options ^= flag;
        if (flag == OPT_TAOBAO_MAIN && (options & OPT_TAOBAO_MAIN))
            options &= uint16_t(~OPT_TAOBAO_DESC);
        if (flag == OPT_TAOBAO_DESC && (options & OPT_TAOBAO_DESC))
            options &= uint16_t(~OPT_TAOBAO_MAIN);
    }
    m_app.SaveSettingsNow();
    RefreshSettingsMenu();
}

void CAmbrelDlg::OnDownloadSettings()
{
    ST_DOWNSET record;
    {
        std::lock_guard lock(m_app.settingsMutex);
        record = m_app.settings.DownSet[SITE_MODE_BOARD];
    }
    CDlgDownSet dialog(&record, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    {
        std::lock_guard lock(m_app.settingsMutex);
        m_app.settings.DownSet[SITE_MODE_BOARD] = record;
    }
    m_app.SaveSettingsNow();
}

void CAmbrelDlg::OnNamingSettings()
{
    ST_SAVESET record;
    {
        std::lock_guard lock(m_app.settingsMutex);
        record = m_app.settings.SaveSet[SITE_MODE_BOARD];
    }
    CDlgSaveSet dialog(&record, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    {
        std::lock_guard lock(m_app.settingsMutex);
        // The option bits are the menu's; the dialog does not own them.
        record.wOptions = m_app.settings.SaveSet[SITE_MODE_BOARD].wOptions;
        m_app.settings.SaveSet[SITE_MODE_BOARD] = record;
    }
    m_app.SaveSettingsNow();
}

QDialog *CAmbrelDlg::CreateAboutBox()
{
    auto *box = new QDialog(this, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    box->setObjectName(QStringLiteral("dialog100"));
    box->setWindowTitle(tr("关于"));
    auto *icon = new QLabel(box);
    icon->setPixmap(AppIcon().pixmap(QSize(64, 64), devicePixelRatio()));
    auto *version = new QLabel(tr("版本号：") + QLatin1String(kCorvadinVersion), box);
    version->setObjectName(QStringLiteral("about1014"));
    auto *second = new QLabel(SiteTexts::AboutSecondLine(), box);
    second->setObjectName(QStringLiteral("aboutSecondLine"));
    second->setWordWrap(true);
    auto *ok = new QPushButton(tr("确定"), box);
    ok->setObjectName(QStringLiteral("aboutOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, box, &QDialog::accept);
    auto *texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(second);
    auto *row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
    auto *layout = new QVBoxLayout(box);
    layout->addLayout(row);
    layout->addWidget(ok, 0, Qt::AlignRight);
    return box;
}

void CAmbrelDlg::OnAbout()
{
    QDialog *box = CreateAboutBox();
    box->exec();
    delete box;
}

// ---------------------------------------------------------------------------------------
// Run commands

void CAmbrelDlg::RefreshBoxTexts()
{
    std::lock_guard lock(m_boxMutex);
    m_addressCopy = m_address->currentText();
    m_savePathCopy = m_savePath->currentText();
}

void CAmbrelDlg::OnListCommand()
{
    if (m_closing || m_app.ready != 1)
        return;
    if (m_app.ListState == 0) {
        WaitForRebuild();
        SetupColumns();
        m_grid->ClearImages();
        RefreshBoxTexts();
    }
    ListCommand(m_app, *this);
}

void CAmbrelDlg::OnDownloadCommand()
{
    if (m_closing)
        return;
    // The button reads "终止下载": a stop, also when the run has just ended (its done
    // look still queued), never a new run.
    if (m_downloadLook) {
        StopDownload(m_app);
        return;
    }
    RefreshBoxTexts();
    DownloadCommand(m_app, *this);
}

// ---------------------------------------------------------------------------------------
// WindowServices

void CAmbrelDlg::ShowListRunning()
{
    OnGui([this] {
        m_listRunning = true;
        m_siteMode->setEnabled(false);
        m_downloadButton->setEnabled(false);
        m_address->setEnabled(false);
        m_thumbs->setEnabled(false);
        m_selectAll->setChecked(false);
        m_listButton->setText(tr("终止获取"));
        m_frame->setTitle(tr("相册列表"));
        m_listCounted = false;
        m_phase->setText(tr("正在获取相册列表，请稍等..."));
        m_progress->clear();
        m_notice->hide(); // for good: nothing shows it again
        ApplyLinkStates();
    });
}

void CAmbrelDlg::ShowListIdle(int albumCount)
{
    OnGui([this, albumCount] {
        m_listRunning = false;
        m_siteMode->setEnabled(true);
        m_downloadButton->setEnabled(albumCount >= 1);
        m_listButton->setText(tr("获取相册"));
        m_address->setEnabled(true);
        m_thumbs->setEnabled(true);
        ApplyLinkStates();
        // With albums a download run follows at once; what waits for the boxes waits
        // for its end, so the run never reads a text it did not start with.
        if (albumCount == 0)
            ApplyPendingTargets();
        if (albumCount == 0 && !m_startup.screenshotFile.isEmpty())
            TakeScreenshotAndClose(); // nothing will be downloaded
    });
}

QString CAmbrelDlg::ListEndPhase(const ListOutcome &o)
{
    using Kind = ListOutcome::Kind;
    switch (o.kind) {
    case Kind::Read: return {};
    case Kind::NotAnAddress:
    case Kind::NotABoardAddress: return tr("地址有误，没有获取相册");
    case Kind::OtherSite: return tr("不是 %1 的画板地址，没有获取相册").arg(o.site);
    case Kind::HttpError: return tr("获取相册失败：网站答复 HTTP %1").arg(o.status);
    case Kind::TimedOut: return tr("获取相册失败：网站没有及时答复");
    case Kind::NetworkError: return tr("获取相册失败：网络出错（%1）").arg(ReasonText(o.detail));
    case Kind::NotABoardPage: return tr("获取相册失败：这不是画板页面");
    case Kind::Stopped: return tr("已终止获取");
    }
    return {};
}

QString CAmbrelDlg::ListEndMessage(const ListOutcome &o)
{
    using Kind = ListOutcome::Kind;
    switch (o.kind) {
    case Kind::HttpError:
        if (o.loginMayHelp())
            return tr("无法读取画板页面：网站拒绝访问（HTTP %1）。\n\n"
                      "这个画板可能只有登录后才能看到。请在菜单“<登录>”中选择“自定义登录”，"
                      "在打开的网页上登录，关闭登录窗口后再点“获取相册”。")
                .arg(o.status);
        if (o.status == 404)
            return tr("无法读取画板页面：网站上没有这个画板（HTTP 404）。请检查地址。");
        return tr("无法读取画板页面：网站答复 HTTP %1。请稍后再试。").arg(o.status);
    case Kind::TimedOut:
        return tr("无法读取画板页面：网站在规定时间内没有答复。请检查网络后再试。");
    case Kind::NetworkError:
        return tr("无法读取画板页面：%1。请检查网络和地址后再试。").arg(ReasonText(o.detail));
    case Kind::NotABoardPage:
        return tr("这个地址的页面不是画板页面（页面里没有画板编号）。请检查地址。");
    case Kind::OtherSite:
        return tr("这个画板地址不在所设置的网站 %1 上，没有读取。\n\n"
                  "网站在 site.ini 或环境变量 CORVADIN_SITE_HOST 中设置。")
            .arg(o.site);
    case Kind::Read:
    case Kind::NotAnAddress:     // the core has shown its message
    case Kind::NotABoardAddress: // and its hint
    case Kind::Stopped:
        break;
    }
    return {};
}

void CAmbrelDlg::ListFinished(const ListOutcome &outcome)
{
    if (outcome.kind == ListOutcome::Kind::Read)
        return;
    OnGui([this, outcome] {
        m_phase->setText(ListEndPhase(outcome));
        const QString message = ListEndMessage(outcome);
        if (!message.isEmpty() && !m_closing)
            Prompts().Message(this, message);
    });
}

void CAmbrelDlg::ShowDownloading()
{
    OnGui([this] {
        if (m_startup.stopWhenDownloading && !m_downloadLook)
            StopOnceAPictureHasArrived();
        m_downloadLook = true;
        m_downloadButton->setText(tr("终止下载"));
        m_siteMode->setEnabled(false);
        m_listButton->setEnabled(false);
        m_chooseButton->setEnabled(false);
        m_address->setEnabled(false);
        m_savePath->setEnabled(false);
    });
}

void CAmbrelDlg::ShowDownloadDone()
{
    OnGui([this] {
        {
            std::lock_guard lock(m_progressMutex);
            m_pendingProgress.clear(); // older than the end of the run
        }
        m_downloadLook = false;
        m_downloadButton->setText(tr("下载"));
        m_siteMode->setEnabled(true);
        m_listButton->setEnabled(true);
        m_chooseButton->setEnabled(true);
        m_address->setEnabled(true);
        m_savePath->setEnabled(true);
        m_phase->setText(tr("下载完毕"));
        m_progress->clear();
        ApplyPendingTargets();
        if (!m_startup.screenshotFile.isEmpty())
            TakeScreenshotAndClose();
    });
}

void CAmbrelDlg::SetPhaseText(const QString &text, ReportKind kind)
{
    OnGui([this, text, kind] {
        m_phase->setText(text);
        if (kind == ReportKind::RunDone)
            ShowFailureList();
    });
}

CDlgFailList *CAmbrelDlg::FailList() const
{
    return m_failList;
}

// A run that ended with failures shows them in the "失败列表" dialog, whose button
// downloads just those again; a later run refreshes it.
void CAmbrelDlg::ShowFailureList()
{
    const QList<PictureOutcome> failures = m_app.Summary().failures;
    if (!m_failList) {
        if (failures.isEmpty() || m_closing)
            return;
        m_failList = new CDlgFailList(this);
        connect(m_failList, &CDlgFailList::RetryRequested, this, [this] {
            if (RetryCommand(m_app, *this))
                m_failList->SetRunning(true);
        });
    }
    m_failList->SetRunning(false);
    m_failList->SetFailures(failures);
    if (!failures.isEmpty() && !m_closing) {
        m_failList->show();
        m_failList->raise();
    }
}

void CAmbrelDlg::SetProgressText(const QString &text, ReportKind)
{
    if (QThread::currentThread() == thread()) {
        m_progress->setText(text);
        return;
    }
    // Only the newest text matters: one queued update carries whatever is newest when
    // the GUI thread gets to it.
    std::lock_guard lock(m_progressMutex);
    m_pendingProgress = text;
    if (m_progressQueued)
        return;
    m_progressQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        QString latest;
        bool any;
        {
            std::lock_guard lock(m_progressMutex);
            m_progressQueued = false;
            latest = m_pendingProgress;
            any = !latest.isNull();
            m_pendingProgress = QString();
        }
        if (any)
            m_progress->setText(latest);
    }, Qt::QueuedConnection);
}

void CAmbrelDlg::SetAlbumFrameCaption(const QString &text)
{
    OnGui([this, text] {
        m_frame->setTitle(text);
        m_listCounted = true;
    });
}

void CAmbrelDlg::ShowMessage(const QString &text)
{
    OnGui([this, text] {
        if (!m_closing)
            Prompts().Message(this, text);
    });
}

QString CAmbrelDlg::AddressText()
{
    if (QThread::currentThread() == thread())
        return m_address->currentText();
    std::lock_guard lock(m_boxMutex);
    return m_addressCopy;
}

QString CAmbrelDlg::SavePathText()
{
    if (QThread::currentThread() == thread())
        return m_savePath->currentText();
    std::lock_guard lock(m_boxMutex);
    return m_savePathCopy;
}

void CAmbrelDlg::AppendAddressItem(const QString &text)
{
    OnGui([this, text] { m_address->AddItemText(text); });
}

int CAmbrelDlg::GridAppendRow(int height)
{
    return AskGui([this, height] { return m_grid->AppendRow(height); }, -1);
}

void CAmbrelDlg::GridSetCell(int row, int col, const QString &text, int itemData, int image)
{
    OnGui([=, this] { m_grid->SetCell(row, col, text, itemData, image); });
}

void CAmbrelDlg::GridSelectAll()
{
    OnGui([this] { m_grid->SelectAllCells(); });
}

void CAmbrelDlg::GridRefresh()
{
    OnGui([this] { m_grid->viewport()->update(); });
}

int CAmbrelDlg::AddThumbnail(const QString &pictureFile)
{
    // Decoding is the caller's work; only the image list is the GUI thread's. A cover
    // that is no picture leaves the cell without one; only a thumbnail that cannot be
    // made is reported.
    const QImage picture(pictureFile);
    if (picture.isNull())
        return -1;
    const QImage thumb = picture.scaled(m_app.thumbWidth, m_app.thumbHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (thumb.isNull()) {
        ShowMessage(QStringLiteral("err1"));
        return -1;
    }
    return AskGui([this, thumb] { return m_grid->AddImage(thumb); }, -1);
}

QList<int> CAmbrelDlg::ChosenAlbums()
{
    return AskGui([this] { return m_grid->SelectedAlbums(m_app.bThumbMode != 0, m_app.albums.count()); }, QList<int>());
}

void CAmbrelDlg::StartDownloadRun()
{
    OnGui([this] {
        if (m_closing)
            return;
        RefreshBoxTexts();
        DownloadCommand(m_app, *this);
    });
}

void CAmbrelDlg::BatchFinished(unsigned, int)
{
    // Only acknowledged.
}

void CAmbrelDlg::OpenFolder(const QString &folder)
{
    OnGui([this, folder] {
        if (!m_closing)
            Prompts().OpenUrl(folder);
    });
}

// ---------------------------------------------------------------------------------------
// Screenshot and closing

void CAmbrelDlg::TakeScreenshotAndClose()
{
    if (m_screenshotTaken)
        return;
    m_screenshotTaken = true;
    // Let the last texts and a message box that comes with them paint first.
    QTimer::singleShot(500, this, [this] {
        QPixmap shot = grab();
        QPainter painter(&shot);
        const QPoint origin = mapToGlobal(QPoint(0, 0));
        QList<QWidget *> boxes;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (top != this && top->isVisible() && top->parentWidget() == this && top->isModal()) {
                painter.drawPixmap(top->mapToGlobal(QPoint(0, 0)) - origin, top->grab());
                boxes << top;
            }
        }
        painter.end();
        shot.save(m_startup.screenshotFile);
        for (QWidget *box : std::as_const(boxes))
            box->close();
        close();
    });
}

void CAmbrelDlg::StopOnceAPictureHasArrived()
{
    // Polled: the pool's count is the one sign that does not depend on how the
    // progress line is shown.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll] {
        if (m_app.DownState == 0 && !m_downloadLook) {
            poll->deleteLater(); // the run is over already
        } else if (m_app.nDoneCount > 0 && m_app.DownState == 1) {
            OnDownloadCommand();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

QSize CAmbrelDlg::ClassicSize() const
{
    // Dialog base units as Windows measures them: the average width of the 52 Latin
    // letters, rounded, and the font's height.
    const QFontMetrics metrics(font());
    const int letters = metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    const int unitX = (letters / 26 + 1) / 2;
    return QSize(kClassicWidthUnits * unitX / 4, kClassicHeightUnits * metrics.height() / 8);
}

void CAmbrelDlg::PlaceWindow()
{
    const QSettings ini(m_app.profile.optionsFile(), QSettings::IniFormat);
    const QByteArray saved = ini.value(kGeometryKey).toByteArray();
    // restoreGeometry() moves a window back onto a screen that has shrunk or gone.
    if (!m_startup.windowSize.isValid() && !saved.isEmpty() && restoreGeometry(saved))
        return;
    QSize size = m_startup.windowSize.isValid() ? m_startup.windowSize : ClassicSize();
    size = size.expandedTo(minimumSizeHint());
    if (const QScreen *screen = this->screen()) {
        // Room for the frame and title bar, whose size is known only once shown.
        const QRect room = screen->availableGeometry().adjusted(0, 0, -16, -48);
        if (!m_startup.windowSize.isValid())
            size = size.boundedTo(room.size()).expandedTo(minimumSizeHint());
        resize(size);
        move(room.center() - rect().center());
        return;
    }
    resize(size);
}

void CAmbrelDlg::SaveWindowPlace()
{
    if (!m_startupFinished || !isVisible())
        return; // never shown: nothing to remember
    WriteOptions(m_app.profile.optionsFile(), {{kGeometryKey, saveGeometry()}});
}

bool CAmbrelDlg::StopRunning()
{
    if (m_closing)
        return false;
    // Stops only: what ends meanwhile is never followed by a new retrieval or run.
    if (m_app.ListState == 1 && RequestStop(m_app.ListState, 2))
        return true; // "终止获取"
    if (m_app.DownState == 1 || m_app.DownState == 2) {
        StopDownload(m_app); // "终止下载"
        return true;
    }
    return m_app.ConvertState == 1 && RequestStop(m_app.ConvertState, 2);
}

void CAmbrelDlg::keyPressEvent(QKeyEvent *event)
{
    // QDialog would close the window on Esc.
    if (event->matches(QKeySequence::Cancel)) {
        StopRunning();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CAmbrelDlg::reject()
{
    // Esc closes the window the same way as the close box.
    if (!m_shutdownDone) {
        close();
        return;
    }
    QDialog::reject();
}

void CAmbrelDlg::closeEvent(QCloseEvent *event)
{
    if (!m_shutdownDone) {
        if (m_closing) { // already stopping
            event->ignore();
            return;
        }
        // A run that is going on is not given up without asking.
        const bool running = m_app.ListState != 0 || m_app.DownState != 0;
        if (running && isVisible() &&
            !Prompts().AskYesNo(this, tr("正在获取或下载相册。要终止并退出吗？"), tr("提示"))) {
            event->ignore();
            return;
        }
        SaveWindowPlace();
        Shutdown();
    }
    QDialog::closeEvent(event);
}

void CAmbrelDlg::Shutdown()
{
    m_closing = true;
    setEnabled(false);
    if (m_findBox)
        m_findBox->hide();
    // StopAll joins the run threads, which may be waiting for this thread: it runs on a
    // helper while this thread goes on serving events.
    std::atomic<bool> finished{false};
    std::thread helper([this, &finished] {
        StopAll(m_app); // also asks a rebuild to stop
        if (m_rebuildThread.joinable())
            m_rebuildThread.join();
        if (m_startupThread.joinable())
            m_startupThread.join();
        finished = true;
    });
    while (!finished) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!finished)
            QThread::msleep(2);
    }
    helper.join();
    if (m_splash)
        delete m_splash.data();
    m_shutdownDone = true;
}
