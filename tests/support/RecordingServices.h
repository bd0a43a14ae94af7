// A WindowServices that records every call, for driving the core from tests. Safe to
// call from any thread (the run threads call it); the test thread reads the records.
#pragma once

#include "core/AppState.h"
#include "source/RunControl.h"
#include "core/WindowServices.h"

#include <QFile>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

class RecordingServices : public WindowServices {
public:
    explicit RecordingServices(AppState *app = nullptr) : m_app(app) {}

    // What the boxes hold.
    QString address;
    QString savePath;
    // Albums the grid answers as chosen; unset: every album row of the grid once
    // GridSelectAll was called (as the window's select-all does), else none.
    std::optional<QList<int>> chosen;
    // Whether StartDownloadRun really starts a run (needs the AppState).
    bool startRuns = true;

    struct Row {
        int height = -1;
        QMap<int, QString> text;
        QMap<int, int> data;
        QMap<int, int> image;
    };

    void ShowListRunning() override { log(QStringLiteral("ShowListRunning")); }
    void ShowListIdle(int n) override { log(QStringLiteral("ShowListIdle %1").arg(n)); }
    void ListFinished(const ListOutcome &o) override
    {
        std::lock_guard lock(m_mutex);
        outcomes.append(o);
    }
    void ShowDownloading() override { log(QStringLiteral("ShowDownloading")); }
    void ShowDownloadDone() override
    {
        log(QStringLiteral("ShowDownloadDone"));
        SetPhaseText(QStringLiteral("下载完毕"));
        SetProgressText(QString());
    }
    void SetPhaseText(const QString &t, ReportKind = ReportKind::Other) override
    {
        std::lock_guard lock(m_mutex);
        phases.append(t);
    }
    void SetProgressText(const QString &t, ReportKind = ReportKind::Other) override
    {
        std::lock_guard lock(m_mutex);
        progress.append(t);
    }
    void SetAlbumFrameCaption(const QString &t) override
    {
        std::lock_guard lock(m_mutex);
        captions.append(t);
    }
    void ShowMessage(const QString &t) override
    {
        std::lock_guard lock(m_mutex);
        messages.append(t);
    }
    QString AddressText() override { return address; }
    QString SavePathText() override { return savePath; }
    void AppendAddressItem(const QString &t) override
    {
        std::lock_guard lock(m_mutex);
        addressItems.append(t);
    }
    int GridAppendRow(int height) override
    {
        std::lock_guard lock(m_mutex);
        Row r;
        r.height = height;
        rows.append(r);
        return int(rows.size()) - 1 + headerRows;
    }
    void GridSetCell(int row, int col, const QString &text, int itemData, int image) override
    {
        std::lock_guard lock(m_mutex);
        const int i = row - headerRows;
        if (i < 0 || i >= rows.size())
            return;
        rows[i].text[col] = text;
        if (itemData >= 0)
            rows[i].data[col] = itemData;
        if (image >= 0)
            rows[i].image[col] = image;
    }
    void GridSelectAll() override
    {
        std::lock_guard lock(m_mutex);
        ++selectAll;
    }
    void GridRefresh() override {}
    // Keeps the cover's file as it was when it arrived; answers its thumbnail index.
    int AddThumbnail(const QString &pictureFile) override
    {
        QFile file(pictureFile);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        std::lock_guard lock(m_mutex);
        thumbnails.append(bytes);
        return int(thumbnails.size()) - 1;
    }
    QList<int> ChosenAlbums() override
    {
        std::lock_guard lock(m_mutex);
        if (chosen)
            return *chosen;
        QList<int> all;
        if (selectAll > 0)
            for (const Row &r : rows)
                for (int d : r.data)
                    all.append(d);
        return all;
    }
    void StartDownloadRun() override
    {
        {
            std::lock_guard lock(m_mutex);
            ++downloadStarts;
        }
        if (startRuns && m_app)
            DownloadCommand(*m_app, *this);
    }
    void BatchFinished(unsigned seconds, int pictures) override
    {
        std::lock_guard lock(m_mutex);
        batches.append(pictures);
    }
    void OpenFolder(const QString &folder) override
    {
        std::lock_guard lock(m_mutex);
        openedFolders.append(folder);
    }

    // Snapshots for assertions.
    template <typename T> T get(const T RecordingServices::*member) const
    {
        std::lock_guard lock(m_mutex);
        return this->*member;
    }
    QStringList Messages() const { return get(&RecordingServices::messages); }
    QStringList Phases() const { return get(&RecordingServices::phases); }
    QStringList Progress() const { return get(&RecordingServices::progress); }
    QStringList Events() const { return get(&RecordingServices::events); }
    QStringList Captions() const { return get(&RecordingServices::captions); }
    QList<Row> Rows() const { return get(&RecordingServices::rows); }
    QList<int> Batches() const { return get(&RecordingServices::batches); }
    QList<ListOutcome> Outcomes() const { return get(&RecordingServices::outcomes); }
    // Whether the progress line showed `text`; asked without copying the list, so that
    // polling it from another thread while the run writes is no race.
    bool ShowedProgress(const QString &text) const
    {
        std::lock_guard lock(m_mutex);
        return progress.contains(text);
    }
    QString LastPhase() const
    {
        std::lock_guard lock(m_mutex);
        return phases.isEmpty() ? QString() : phases.last();
    }

    int headerRows = 1; // list mode: row 0 is the header

    mutable std::mutex m_mutex;
    QStringList events, phases, progress, captions, messages, addressItems, openedFolders;
    QList<Row> rows;
    QList<int> batches;
    QList<ListOutcome> outcomes;
    QList<QByteArray> thumbnails; // covers handed to AddThumbnail
    int selectAll = 0;
    int downloadStarts = 0;

private:
    void log(const QString &e)
    {
        std::lock_guard lock(m_mutex);
        events.append(e);
    }
    AppState *m_app;
};
