#pragma once
// The application's folders inside a test's private environment.

#include "TestEnv.h"
#include "app/AppFolders.h"

namespace pw::test {

inline app::AppFolders appFoldersIn(const TestEnv& env) {
    app::AppFolders f;
    f.programFolder = env.makeFolder("program");
    f.userDataFolder = env.root() + "data/Postwick/";
    f.tempFolder = env.makeFolder("tmp/postwick");
    f.workingCopyFolder = env.root() + "state/Postwick/";
    return f;
}

}  // namespace pw::test
