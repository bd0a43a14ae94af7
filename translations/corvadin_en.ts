<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>BoardReading</name>
    <message>
        <source>相册“%1”的图片超过%2张，其余的图片不再获取</source>
        <translation>Album “%1” has more than %2 pictures; the rest are left out.</translation>
    </message>
    <message>
        <source>加密相册</source>
        <translation>Password-protected</translation>
    </message>
    <message>
        <source>私密相册</source>
        <translation>Private</translation>
    </message>
    <message>
        <source>好友可见</source>
        <translation>Friends only</translation>
    </message>
    <message>
        <source>相册列表(共%1个)</source>
        <translation>Albums (%1)</translation>
    </message>
    <message>
        <source>内存分配失败</source>
        <translation>Out of memory.</translation>
    </message>
    <message>
        <source>未知</source>
        <translation>Unknown</translation>
    </message>
    <message numerus="yes">
        <source>获取相册列表完成，共%n个</source>
        <translation>
            <numerusform>Album list fetched: %n album</numerusform>
            <numerusform>Album list fetched: %n albums</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>CAmbrelApp</name>
    <message>
        <source>Corvadin：下载整个画板的图片。</source>
        <translation>Corvadin: downloads the pictures of whole boards.</translation>
    </message>
    <message>
        <source>画板地址放入地址栏；文件夹（或其中的文件）作为保存路径。同一组文件夹上已有窗口打开时，交给那个窗口。</source>
        <translation>A board address goes into the address box; a folder (or a file in it) becomes the save folder. With a window already open on the same folders, it goes to that window.</translation>
    </message>
    <message>
        <source>把设置、cookie 和缩略图都放在 DIR 中（便携模式）。默认：~/.config/Corvadin、~/.local/share/Corvadin 和 ~/.cache/Corvadin。</source>
        <translation>Keep settings, cookies and thumbnails in DIR (portable mode). Default: ~/.config/Corvadin, ~/.local/share/Corvadin and ~/.cache/Corvadin.</translation>
    </message>
    <message>
        <source>把 URL 放入地址栏，而不是剪贴板中的文字。</source>
        <translation>Put URL into the address box instead of the clipboard&apos;s text.</translation>
    </message>
    <message>
        <source>启动完成后按下“获取相册”。</source>
        <translation>Press “Fetch Albums” once start-up is done.</translation>
    </message>
    <message>
        <source>与 --auto-start 一起使用：运行结束后把窗口的图片保存到 FILE，然后关闭窗口。</source>
        <translation>With --auto-start: when the run has ended, save a picture of the window to FILE and close.</translation>
    </message>
    <message>
        <source>与 --auto-start 一起使用：第一张图片下载完成后立即按下“终止下载”。</source>
        <translation>With --auto-start: press “Stop Download” as soon as the first picture has arrived.</translation>
    </message>
    <message>
        <source>窗口以 WxH（宽x高，像素）的大小打开，而不是上次记住的大小。</source>
        <translation>Open the window W×H pixels large (WIDTHxHEIGHT) instead of at its remembered size.</translation>
    </message>
    <message>
        <source>启动时不显示启动画面。</source>
        <translation>Start without the splash screen.</translation>
    </message>
    <message>
        <source>界面语言：zh（中文）或 en（英文）。默认：环境变量 CORVADIN_LANGUAGE，否则为系统的语言（系统要求英文时为英文，否则为中文）。</source>
        <translation>The language of the window: zh (Chinese) or en (English). Default: the environment variable CORVADIN_LANGUAGE, else the system&apos;s language (English when the system asks for English, Chinese otherwise).</translation>
    </message>
    <message>
        <source>--window-size 的值应为 宽x高，例如 1000x700</source>
        <translation>--window-size takes WIDTHxHEIGHT, e.g. 1000x700</translation>
    </message>
    <message>
        <source>--work-folder 需要一个文件夹</source>
        <translation>--work-folder needs a folder</translation>
    </message>
    <message>
        <source>%1 上已经打开了一个窗口，但它没有应答</source>
        <translation>a window is already open on %1 but does not answer</translation>
    </message>
</context>
<context>
    <name>CAmbrelDlg</name>
    <message>
        <source>获取相册</source>
        <translation>Fetch Albums</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>保存路径:</source>
        <translation>Save folder:</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>相册列表</source>
        <translation>Albums</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>预览图</source>
        <translation>Thumbnails</translation>
    </message>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>查找相册（Ctrl+F）</source>
        <translation>Find an album (Ctrl+F)</translation>
    </message>
    <message>
        <source>筛选</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>导出</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Corvadin 主页</source>
        <translation>Corvadin home page</translation>
    </message>
    <message>
        <source>&lt;登录&gt;(&amp;L)</source>
        <translation>&amp;Login</translation>
    </message>
    <message>
        <source>QQ空间/QQ群</source>
        <translation>QQ Zone / QQ Groups</translation>
    </message>
    <message>
        <source>腾讯微博（登录时勾上下次自动登录）</source>
        <translation>Tencent Weibo (tick “remember me” when you log in)</translation>
    </message>
    <message>
        <source>百度</source>
        <translation>Baidu</translation>
    </message>
    <message>
        <source>网易</source>
        <translation>NetEase</translation>
    </message>
    <message>
        <source>人人</source>
        <translation>Renren</translation>
    </message>
    <message>
        <source>又拍（下载器没弹窗提示你登录，就不要在这里登录）</source>
        <translation>Yupoo (log in here only when Corvadin asks you to)</translation>
    </message>
    <message>
        <source>美空</source>
        <translation>Moko</translation>
    </message>
    <message>
        <source>新浪微博（登录时勾上下次自动登录）</source>
        <translation>Sina Weibo (tick “remember me” when you log in)</translation>
    </message>
    <message>
        <source>淘宝（强烈建议用小号登录）</source>
        <translation>Taobao (a spare account is strongly recommended)</translation>
    </message>
    <message>
        <source>虎扑</source>
        <translation>Hupu</translation>
    </message>
    <message>
        <source>自定义登录</source>
        <translation>Custom Login</translation>
    </message>
    <message>
        <source>&lt;设置&gt;(&amp;S)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <source>下载参数设置(&amp;D)...</source>
        <translation>&amp;Download Settings...</translation>
    </message>
    <message>
        <source>文件名设置(&amp;N)...</source>
        <translation>File &amp;Names...</translation>
    </message>
    <message>
        <source>只生成迅雷下载列表</source>
        <translation>Only Write a Thunder Download List</translation>
    </message>
    <message>
        <source>生成图片原始名文件</source>
        <translation>Write a File of Original Picture Names</translation>
    </message>
    <message>
        <source>修正图片顺序</source>
        <translation>Fix Picture Order</translation>
    </message>
    <message>
        <source>修正图片格式</source>
        <translation>Fix Picture Formats</translation>
    </message>
    <message>
        <source>不下载以前下载过的图片</source>
        <translation>Skip Pictures Downloaded Before</translation>
    </message>
    <message>
        <source>下载完成后打开保存路径</source>
        <translation>Open the Save Folder When Done</translation>
    </message>
    <message>
        <source>只下载淘宝宝贝主图</source>
        <translation>Taobao: Main Pictures Only</translation>
    </message>
    <message>
        <source>只下载宝贝描述里的图片</source>
        <translation>Taobao: Description Pictures Only</translation>
    </message>
    <message>
        <source>又拍相册下载大图（不勾选为下载原图，下载原图速度更慢）</source>
        <translation>Yupoo: Large Pictures (untick for the originals, which are slower)</translation>
    </message>
    <message>
        <source>&lt;导入/导出&gt;(&amp;I)</source>
        <translation>&amp;Import/Export</translation>
    </message>
    <message>
        <source>导入下载文件并开始下载</source>
        <translation>Import a Download File and Start</translation>
    </message>
    <message>
        <source>导出下载文件</source>
        <translation>Export Download File</translation>
    </message>
    <message>
        <source>导出迅雷下载列表</source>
        <translation>Export Thunder Download List</translation>
    </message>
    <message>
        <source>&lt;辅助功能&gt;(&amp;T)</source>
        <translation>&amp;Tools</translation>
    </message>
    <message>
        <source>文件处理</source>
        <translation>File Processing</translation>
    </message>
    <message>
        <source>&lt;帮助&gt;(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>使用说明(&amp;U)</source>
        <translation>&amp;User Guide</translation>
    </message>
    <message>
        <source>软件咨询(&amp;C)</source>
        <translation>&amp;Questions</translation>
    </message>
    <message>
        <source>问题反馈(&amp;F)</source>
        <translation>Report a &amp;Problem</translation>
    </message>
    <message>
        <source>版本信息(&amp;V)</source>
        <translation>&amp;Version</translation>
    </message>
    <message>
        <source>关于(&amp;A)</source>
        <translation>&amp;About Corvadin</translation>
    </message>
    <message>
        <source>模式转换未完成,是否中断?</source>
        <translation>The album view is still being rebuilt. Stop rebuilding it?</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Corvadin</translation>
    </message>
    <message>
        <source>相册列表(筛选“%1”：显示%2个，共%3个)</source>
        <translation>Albums (filter “%1”: %2 of %3 shown)</translation>
    </message>
    <message>
        <source>相册列表(共%1个)</source>
        <translation>Albums (%1)</translation>
    </message>
    <message>
        <source>请选择文件保存目录：</source>
        <translation>Choose the folder to save pictures in</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About Corvadin</translation>
    </message>
    <message>
        <source>版本号：</source>
        <translation>Version </translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>终止获取</source>
        <translation>Stop Fetching</translation>
    </message>
    <message>
        <source>正在获取相册列表，请稍等...</source>
        <translation>Fetching the album list, please wait...</translation>
    </message>
    <message>
        <source>地址有误，没有获取相册</source>
        <translation>Not a board address; no album was fetched</translation>
    </message>
    <message>
        <source>不是 %1 的画板地址，没有获取相册</source>
        <translation>Not a board address of %1; no album was fetched</translation>
    </message>
    <message>
        <source>获取相册失败：网站答复 HTTP %1</source>
        <translation>Fetching failed: the site answered HTTP %1</translation>
    </message>
    <message>
        <source>获取相册失败：网站没有及时答复</source>
        <translation>Fetching failed: the site did not answer in time</translation>
    </message>
    <message>
        <source>获取相册失败：网络出错（%1）</source>
        <translation>Fetching failed: network error (%1)</translation>
    </message>
    <message>
        <source>获取相册失败：这不是画板页面</source>
        <translation>Fetching failed: this is not a board page</translation>
    </message>
    <message>
        <source>已终止获取</source>
        <translation>Fetching stopped</translation>
    </message>
    <message>
        <source>无法读取画板页面：网站拒绝访问（HTTP %1）。

这个画板可能只有登录后才能看到。请在菜单“&lt;登录&gt;”中选择“自定义登录”，在打开的网页上登录，关闭登录窗口后再点“获取相册”。</source>
        <translation>Could not read the board page: the site refused access (HTTP %1).

This board may be visible only to users who have logged in. Choose “Custom Login” in the “Login” menu, log in on the page that opens, close the login window and press “Fetch Albums” again.</translation>
    </message>
    <message>
        <source>无法读取画板页面：网站上没有这个画板（HTTP 404）。请检查地址。</source>
        <translation>Could not read the board page: the site has no such board (HTTP 404). Please check the address.</translation>
    </message>
    <message>
        <source>无法读取画板页面：网站答复 HTTP %1。请稍后再试。</source>
        <translation>Could not read the board page: the site answered HTTP %1. Please try again later.</translation>
    </message>
    <message>
        <source>无法读取画板页面：网站在规定时间内没有答复。请检查网络后再试。</source>
        <translation>Could not read the board page: the site did not answer in time. Please check your network connection and try again.</translation>
    </message>
    <message>
        <source>无法读取画板页面：%1。请检查网络和地址后再试。</source>
        <translation>Could not read the board page: %1. Please check your network connection and the address, then try again.</translation>
    </message>
    <message>
        <source>这个地址的页面不是画板页面（页面里没有画板编号）。请检查地址。</source>
        <translation>The page at this address is not a board page (it has no board id). Please check the address.</translation>
    </message>
    <message>
        <source>这个画板地址不在所设置的网站 %1 上，没有读取。

网站在 site.ini 或环境变量 CORVADIN_SITE_HOST 中设置。</source>
        <translation>This board address is not on the configured site %1, so it was not read.

The site is set in site.ini or in the environment variable CORVADIN_SITE_HOST.</translation>
    </message>
    <message>
        <source>终止下载</source>
        <translation>Stop Download</translation>
    </message>
    <message>
        <source>下载完毕</source>
        <translation>Download complete</translation>
    </message>
    <message>
        <source>正在获取或下载相册。要终止并退出吗？</source>
        <translation>Albums are being fetched or downloaded. Stop and quit?</translation>
    </message>
</context>
<context>
    <name>CDlgDownSet</name>
    <message>
        <source>设置</source>
        <translation>Download Settings</translation>
    </message>
    <message>
        <source>下载参数设置</source>
        <translation>Downloads</translation>
    </message>
    <message>
        <source>线程数(1~15)：</source>
        <translation>Threads (1-15):</translation>
    </message>
    <message>
        <source>超时(S, &gt;=10)：</source>
        <translation>Time-out (s, &gt;= 10):</translation>
    </message>
    <message>
        <source>图片最小值(K)：</source>
        <translation>Smallest picture (KB):</translation>
    </message>
    <message>
        <source>图片最大值(K)：</source>
        <translation>Largest picture (KB):</translation>
    </message>
    <message>
        <source>确 定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>线程数应为 1 到 15</source>
        <translation>the number of threads must be 1 to 15</translation>
    </message>
    <message>
        <source>超时应不少于 10 秒</source>
        <translation>the time-out must be at least 10 seconds</translation>
    </message>
    <message>
        <source>参数错误：</source>
        <translation>Invalid settings: </translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
</context>
<context>
    <name>CDlgFailList</name>
    <message>
        <source>失败列表</source>
        <translation>Failed Pictures</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>重新下载</source>
        <translation>Download Again</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>没有下载失败的图片</source>
        <translation>No picture failed.</translation>
    </message>
    <message numerus="yes">
        <source>%n张图片下载失败：</source>
        <translation>
            <numerusform>%n picture failed:</numerusform>
            <numerusform>%n pictures failed:</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>CDlgFind</name>
    <message>
        <source>相册搜索</source>
        <translation>Find Album</translation>
    </message>
    <message>
        <source>区分大小写</source>
        <translation>Match case</translation>
    </message>
    <message>
        <source>全字匹配</source>
        <translation>Whole text only</translation>
    </message>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>关键字:</source>
        <translation>Keyword:</translation>
    </message>
    <message>
        <source>筛选</source>
        <translation>Filter</translation>
    </message>
    <message>
        <source>找不到“%1”</source>
        <translation>“%1” was not found.</translation>
    </message>
</context>
<context>
    <name>CDlgSaveSet</name>
    <message>
        <source>设置</source>
        <translation>File Names</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>序号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>网址</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>前缀</source>
        <translation>Prefix</translation>
    </message>
    <message>
        <source>后缀</source>
        <translation>Suffix</translation>
    </message>
    <message>
        <source>替换</source>
        <translation>Replace</translation>
    </message>
    <message>
        <source>替换为</source>
        <translation>with</translation>
    </message>
    <message>
        <source>相册路径(相册名)</source>
        <translation>Album folder (album name)</translation>
    </message>
    <message>
        <source>相册名</source>
        <translation>Album name</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>前后缀说明</source>
        <translation>About prefixes and suffixes</translation>
    </message>
    <message>
        <source>确 定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>设置前后缀，可以在图片本来的文件名前后加上指定的字符
例如：图片原名为sample.jpg，前缀为空，后缀为_x，则文件名为sample_x.jpg
前缀为p_，后缀为_x，则文件名为p_sample_x.jpg
相册名那里前后缀一样
同时，支持转义字符，当前后缀中含有转义字符时，程序会将转义字符转换为转义字符所表示的字符串
转义字符如下（问号为英文的问号，相册名的转义字符只支持?1,?3,?9）：
?1:相册名称
?2:图片在相册中的序号
?3:相册在列表中的序号(格式为：1,2,3...)
?4:未定义
?5:未定义
?6:选中的相册数
?7:总共的相册数(选中的+未选中的)
?9:相册在列表中的序号(格式为：0001,0002,0003...)</source>
        <translation>A prefix and a suffix add text before and after a picture&apos;s own file name.
For example, a picture named sample.jpg with no prefix and the suffix _x is saved as sample_x.jpg;
with the prefix p_ and the suffix _x it is saved as p_sample_x.jpg.
The album folder&apos;s prefix and suffix work the same way.
Both may hold escape codes, which are replaced by the text they stand for.
The escape codes (an ASCII question mark and a digit; the album folder takes only ?1, ?3 and ?9):
?1: the album&apos;s name
?2: the picture&apos;s number in the album
?3: the album&apos;s number in the list (1, 2, 3 ...)
?4: not defined
?5: not defined
?6: the number of albums chosen
?7: the number of albums in the list (chosen or not)
?9: the album&apos;s number in the list (0001, 0002, 0003 ...)</translation>
    </message>
</context>
<context>
    <name>CDlgWebOpen</name>
    <message>
        <source>登录成功后手动关闭对话框</source>
        <translation>Close this window yourself once you have logged in</translation>
    </message>
    <message>
        <source>网址：</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>CMyGridCtrl</name>
    <message>
        <source>序号</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>数量</source>
        <translation>Pictures</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>关键字不能为空</source>
        <translation>Enter a keyword first.</translation>
    </message>
    <message>
        <source>导出后，自行调整列宽(*.csv)</source>
        <translation>CSV file, column widths to adjust after export (*.csv)</translation>
    </message>
</context>
<context>
    <name>DownProc</name>
    <message>
        <source>已开始下载图片</source>
        <translation>Downloading pictures...</translation>
    </message>
    <message>
        <source>已下载%1/%2......</source>
        <translation>Downloaded %1/%2...</translation>
    </message>
</context>
<context>
    <name>DownloadRun</name>
    <message>
        <source>文件写入失败：%1
%2</source>
        <translation>Could not write a file: %1
%2</translation>
    </message>
    <message>
        <source>已终止下载</source>
        <translation>Download stopped</translation>
    </message>
    <message>
        <source>下载完毕</source>
        <translation>Download complete</translation>
    </message>
    <message numerus="yes">
        <source>，%n张失败</source>
        <translation>
            <numerusform>, %n picture failed</numerusform>
            <numerusform>, %n pictures failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>，%n个图集未获取完整</source>
        <translation>
            <numerusform>, %n album incomplete</numerusform>
            <numerusform>, %n albums incomplete</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>，%n个文件写入失败</source>
        <translation>
            <numerusform>, %n file not written</numerusform>
            <numerusform>, %n files not written</numerusform>
        </translation>
    </message>
    <message>
        <source>请先设置保存路径</source>
        <translation>Set a save folder first.</translation>
    </message>
    <message>
        <source>请检测设置的保存路径是否有误</source>
        <translation>The save folder cannot be used. Please check it.</translation>
    </message>
    <message>
        <source>正在下载第%1/%2个图集</source>
        <translation>Downloading album %1/%2</translation>
    </message>
    <message numerus="yes">
        <source>，%n张图片网站上就不完整</source>
        <translation>
            <numerusform>, %n picture cut short on the site itself</numerusform>
            <numerusform>, %n pictures cut short on the site itself</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>FileNaming</name>
    <message numerus="yes">
        <source>已获取到%n张图片信息</source>
        <translation>
            <numerusform>Found %n picture</numerusform>
            <numerusform>Found %n pictures</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ProgressLine</name>
    <message>
        <source>剩余 %1</source>
        <translation>%1 left</translation>
    </message>
</context>
<context>
    <name>Reasons</name>
    <message>
        <source>超时</source>
        <translation>timed out</translation>
    </message>
    <message>
        <source>传输过慢</source>
        <translation>too slow</translation>
    </message>
    <message>
        <source>找不到主机</source>
        <translation>host not found</translation>
    </message>
    <message>
        <source>连接被拒绝</source>
        <translation>connection refused</translation>
    </message>
    <message>
        <source>连接被重置</source>
        <translation>connection reset</translation>
    </message>
    <message>
        <source>传输中断</source>
        <translation>truncated</translation>
    </message>
    <message>
        <source>重定向过多</source>
        <translation>too many redirects</translation>
    </message>
    <message>
        <source>地址有误</source>
        <translation>bad address</translation>
    </message>
    <message>
        <source>压缩数据损坏</source>
        <translation>damaged compressed body</translation>
    </message>
    <message>
        <source>内存不足</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>意外错误</source>
        <translation>unexpected error</translation>
    </message>
    <message>
        <source>不是图片（网站答复了网页）</source>
        <translation>not a picture (text/html)</translation>
    </message>
    <message>
        <source>文件过小</source>
        <translation>too small</translation>
    </message>
    <message>
        <source>文件过大</source>
        <translation>too large</translation>
    </message>
    <message>
        <source>图片不完整</source>
        <translation>incomplete picture</translation>
    </message>
    <message>
        <source>网页不完整</source>
        <translation>too short</translation>
    </message>
    <message>
        <source>已中止</source>
        <translation>aborted</translation>
    </message>
    <message>
        <source>已终止</source>
        <translation>stopped</translation>
    </message>
    <message>
        <source>文件写入失败</source>
        <translation>file not written</translation>
    </message>
    <message>
        <source>下载线程无法启动</source>
        <translation>worker could not start</translation>
    </message>
    <message>
        <source>文件写入失败：%1</source>
        <translation>file not written: %1</translation>
    </message>
    <message>
        <source>HTTP %1（网站要求等待 %2 秒）</source>
        <translation>HTTP %1 (asked to wait %2 s)</translation>
    </message>
</context>
<context>
    <name>SiteModes</name>
    <message>
        <source>QQ相册</source>
        <translation>QQ Albums</translation>
    </message>
    <message>
        <source>百度相册</source>
        <translation>Baidu Albums</translation>
    </message>
    <message>
        <source>网易相册</source>
        <translation>NetEase Albums</translation>
    </message>
    <message>
        <source>人人相册</source>
        <translation>Renren Albums</translation>
    </message>
    <message>
        <source>新浪相册</source>
        <translation>Sina Albums</translation>
    </message>
    <message>
        <source>56相册</source>
        <translation>56 Albums</translation>
    </message>
    <message>
        <source>POCO相册</source>
        <translation>POCO Albums</translation>
    </message>
    <message>
        <source>又拍相册</source>
        <translation>Yupoo Albums</translation>
    </message>
    <message>
        <source>51相册</source>
        <translation>51 Albums</translation>
    </message>
    <message>
        <source>ZOL相册</source>
        <translation>ZOL Albums</translation>
    </message>
    <message>
        <source>PCHome相册</source>
        <translation>PCHome Albums</translation>
    </message>
    <message>
        <source>淘宝/天猫</source>
        <translation>Taobao/Tmall</translation>
    </message>
    <message>
        <source>美空相册</source>
        <translation>Moko Albums</translation>
    </message>
    <message>
        <source>宝宝树相册</source>
        <translation>Babytree Albums</translation>
    </message>
    <message>
        <source>太平洋相册</source>
        <translation>PConline Albums</translation>
    </message>
    <message>
        <source>虎扑相册</source>
        <translation>Hupu Albums</translation>
    </message>
    <message>
        <source>京东商品</source>
        <translation>JD Products</translation>
    </message>
    <message>
        <source>Instagram</source>
        <translation>Instagram</translation>
    </message>
    <message>
        <source>画板</source>
        <translation>Boards</translation>
    </message>
    <message>
        <source>预留模式19</source>
        <translation>Reserved 19</translation>
    </message>
    <message>
        <source>预留模式20</source>
        <translation>Reserved 20</translation>
    </message>
    <message>
        <source>预留模式21</source>
        <translation>Reserved 21</translation>
    </message>
    <message>
        <source>预留模式22</source>
        <translation>Reserved 22</translation>
    </message>
    <message>
        <source>预留模式23</source>
        <translation>Reserved 23</translation>
    </message>
    <message>
        <source>QQ空间相册</source>
        <translation>QQ Zone Albums</translation>
    </message>
    <message>
        <source>QQ群相册</source>
        <translation>QQ Group Albums</translation>
    </message>
    <message>
        <source>腾讯微博相册</source>
        <translation>Tencent Weibo Albums</translation>
    </message>
</context>
<context>
    <name>SiteTexts</name>
    <message>
        <source>请输入相册地址（以 http:// 或 https:// 开头的画板网址）</source>
        <translation>Enter an album address (a board address starting with http:// or https://).</translation>
    </message>
    <message>
        <source>请输入画板的网址，例如：^http://%1/boards/12345678/^一次获取一个画板。</source>
        <translation>Enter a board&apos;s address, for example:^http://%1/boards/12345678/^One board is fetched at a time.</translation>
    </message>
    <message>
        <source>请先在相册列表中选择要下载的相册</source>
        <translation>Choose the albums to download in the album list first.</translation>
    </message>
    <message>
        <source>粘贴画板网址，点击“获取相册”即可下载整个画板。</source>
        <translation>Paste a board&apos;s address and press “Fetch Albums” to download the whole board.</translation>
    </message>
    <message>
        <source>Corvadin 正在启动，请稍等……</source>
        <translation>Corvadin is starting, please wait...</translation>
    </message>
    <message>
        <source>Corvadin 画板下载器</source>
        <translation>Corvadin, the board downloader</translation>
    </message>
</context>
</TS>
