#pragma once
// The application's folders inside a test's private environment, and sessions started on them.

#include <memory>

#include "ScriptedUserInteraction.h"
#include "TestEnv.h"
#include "app/AppFolders.h"
#include "app/AppSession.h"
#include "app/ProjectStore.h"
#include "app/RunRecovery.h"

namespace pw::test {

inline app::AppFolders appFoldersIn(const TestEnv& env) {
    app::AppFolders f;
    f.programFolder = env.makeFolder("program");
    f.userDataFolder = env.root() + "data/Postwick/";
    f.tempFolder = env.makeFolder("tmp/postwick");
    f.workingCopyFolder = env.root() + "state/Postwick/";
    return f;
}

// One installation of the program: private folders, a scripted user, and sessions over them
// that share the settings file as successive starts of the program do.
struct AppTestBed {
    TestEnv env;
    app::AppFolders folders = appFoldersIn(env);
    ScriptedUserInteraction ui;

    [[nodiscard]] QString settingsPath() const { return folders.settingsPath("postwick"); }

    // A session that has started; null when the start did not reach the ready state.
    [[nodiscard]] std::unique_ptr<app::CAppSession> start() {
        auto s = std::make_unique<app::CAppSession>(folders, settingsPath(), ui);
        if (s->Start() != app::CAppSession::StartResult::Ready)
            return nullptr;
        return s;
    }

    // A started session on the fresh document the program opens with.
    [[nodiscard]] std::unique_ptr<app::CAppSession> startOnFreshDocument() {
        auto s = start();
        if (!s || s->PrepareFreshDocument() != app::CAppSession::FreshResult::Ready)
            return nullptr;
        return s;
    }

    // Saves a project as the window does, its texts in the first charset's code page.
    [[nodiscard]] bool saveProject(const QString& path, const MailDocument& doc,
                                   db::TDbData& store) const {
        return pw::app::saveProject(path, doc, {}, folders.mainPreviewFolder(), store,
                                    app::MailCodePage(0), nullptr)
            .ok();
    }
};

}  // namespace pw::test
