// A board site on loopback and an AppState on a sandbox folder pointed at it, with short
// time-outs. Base fixture of the source and download tests.
#pragma once

#include "BoardSite.h"
#include "RecordingServices.h"
#include "TestSupport.h"
#include "core/AppState.h"
#include "source/RunControl.h"

#include <memory>

class CoreFixture : public ::testing::Test {
protected:
    explicit CoreFixture(const BoardSite::Options &options = BoardSite::Options()) : site(options) {}

    void SetUp() override
    {
        ASSERT_TRUE(site.start());
        app = std::make_unique<AppState>(sandbox.path() + QStringLiteral("work"));
        QDir().mkpath(app->profile.configFolder());
        app->site.siteHost = site.hostPort();
        app->site.defaultImageHost = site.hostPort();
        app->timings.pageTimeoutMs = 5000;
        app->timings.boardAttempts = 1;
        app->timings.boardRetryDelaySeconds = 0;
        app->timings.pictureStepTimeoutMs = 5000;
        app->timings.backoffBaseMs = 20;
        app->timings.backoffMaxMs = 200;
        app->Initialise();
        app->ready = 1;
        w = std::make_unique<RecordingServices>(app.get());
        w->savePath = sandbox.path() + QStringLiteral("save");
    }

    void TearDown() override
    {
        if (app)
            StopAll(*app);
    }

    // The list command as the window gives it, then waits until the retrieval and the
    // run it may start have ended.
    void retrieveAndRun(const QString &address)
    {
        w->address = address;
        {
            // The window empties its grid before the list command.
            std::lock_guard lock(w->m_mutex);
            w->rows.clear();
            w->selectAll = 0;
        }
        ASSERT_TRUE(ListCommand(*app, *w));
        ASSERT_TRUE(waitFor([&] { return app->ListState == 0; }, std::chrono::seconds(30)));
        {
            std::thread list;
            {
                std::lock_guard lock(app->threadsMutex);
                list = std::move(app->listThread);
            }
            if (list.joinable())
                list.join();
        }
        ASSERT_TRUE(waitFor([&] { return app->DownState == 0; }, std::chrono::seconds(60)));
        JoinFinished(*app);
    }

    // Sets one field of the active naming record.
    template <typename F> void editSaveSet(F &&f)
    {
        std::lock_guard lock(app->settingsMutex);
        f(app->settings.SaveSet[SITE_MODE_BOARD]);
    }
    template <typename F> void editDownSet(F &&f)
    {
        std::lock_guard lock(app->settingsMutex);
        f(app->settings.DownSet[SITE_MODE_BOARD]);
    }

    Sandbox sandbox;
    BoardSite site;
    std::unique_ptr<AppState> app;
    std::unique_ptr<RecordingServices> w;
};
