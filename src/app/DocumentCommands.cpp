#include "app/DocumentCommands.h"

#include <QFileInfo>

#include "app/IniFile.h"
#include "app/Settings.h"

namespace pw::app {

QString projectPathFor(const QString& chosenPath) {
    const QFileInfo info(chosenPath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // a leading dot names a hidden file, not an extension
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString folder = chosenPath.left(chosenPath.size() - name.size());
    return folder + base + QStringLiteral(".pzy");
}

DefaultDatabaseChange toggleDefaultDatabase(const QString& settingsPath, bool wasChecked,
                                            const QString& databaseFile) {
    if (!wasChecked && (databaseFile.isEmpty() || !QFileInfo(databaseFile).isFile()))
        return DefaultDatabaseChange::NoFile;
    CIniFile ini(settingsPath);
    (void)ini.Load();
    ini.SetText(kSetup, "DefaultDBPath",
                wasChecked ? QString() : QFileInfo(databaseFile).absoluteFilePath());
    if (!ini.Save())
        return DefaultDatabaseChange::WriteFailed;
    return wasChecked ? DefaultDatabaseChange::Cleared : DefaultDatabaseChange::Set;
}

}  // namespace pw::app
