#include "compose/TemplatePlaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace pw {

namespace {

constexpr QLatin1StringView kHiddenList("hidden.txt");
constexpr QLatin1StringView kMailSuffix(".pzt");

QStringList mailTemplatesIn(const QString& folder) {
    QStringList names;
    if (folder.isEmpty()) {
        return names;
    }
    const QStringList files = QDir(folder).entryList({QStringLiteral("*.pzt")}, QDir::Files,
                                                     QDir::Name | QDir::IgnoreCase);
    for (const QString& f : files) {
        names.append(f.left(f.size() - kMailSuffix.size()));
    }
    return names;
}

enum class HideResult { Hidden, Failed };

HideResult hide(const TemplatePlaces& places, const QString& name) {
    // one name a line: a name that cannot be written as one line cannot be hidden
    if (places.own.isEmpty() || name.isEmpty() || name.contains(u'\n') || name.contains(u'\r')) {
        return HideResult::Failed;
    }
    QStringList hidden = hiddenTemplates(places);
    if (hidden.contains(name)) {
        return HideResult::Hidden;
    }
    hidden.append(name);
    if (!QDir().mkpath(places.own)) {
        return HideResult::Failed;
    }
    QSaveFile file(places.own + kHiddenList);
    if (!file.open(QIODevice::WriteOnly)) {
        return HideResult::Failed;
    }
    const QByteArray bytes = (hidden.join(u'\n') + u'\n').toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        return HideResult::Failed;
    }
    return HideResult::Hidden;
}

void collectTemplateNames(const LibraryNode& node, QSet<QString>& names) {
    for (const LibraryNode& child : node.children) {
        if (child.isTemplate) {
            names.insert(child.name);
        }
        collectTemplateNames(child, names);
    }
}

// Drops the templates hidden or taken by the user, and the folders emptied by that.
void prune(LibraryNode& node, const QStringList& hidden, const QSet<QString>& taken) {
    QList<LibraryNode> kept;
    for (LibraryNode& child : node.children) {
        if (child.isTemplate && (hidden.contains(child.name) || taken.contains(child.name))) {
            continue;
        }
        const bool hadChildren = !child.children.isEmpty();
        prune(child, hidden, taken);
        if (!child.isTemplate && hadChildren && child.children.isEmpty()) {
            continue;
        }
        kept.append(std::move(child));
    }
    node.children = std::move(kept);
}

LibraryNode scanIfThere(const QString& folder) {
    if (folder.isEmpty()) {
        return LibraryNode{};
    }
    return scanLibrary(folder);
}

}  // namespace

QStringList hiddenTemplates(const TemplatePlaces& places) {
    QStringList names;
    if (places.own.isEmpty()) {
        return names;
    }
    QFile file(places.own + kHiddenList);
    if (!file.open(QIODevice::ReadOnly)) {
        return names;
    }
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        QString name = line;
        if (name.endsWith(u'\r')) {
            name.chop(1);
        }
        if (!name.isEmpty()) {
            names.append(name);
        }
    }
    return names;
}

QStringList mailTemplateNames(const TemplatePlaces& places) {
    QStringList names = mailTemplatesIn(places.own);
    const QStringList hidden = hiddenTemplates(places);
    const QSet<QString> own(names.begin(), names.end());
    for (const QString& name : mailTemplatesIn(places.shipped)) {
        if (!own.contains(name) && !hidden.contains(name)) {
            names.append(name);
        }
    }
    return names;
}

QString ownMailTemplatePath(const TemplatePlaces& places, const QString& name) {
    return places.own + name + kMailSuffix;
}

QString mailTemplatePath(const TemplatePlaces& places, const QString& name) {
    const QString own = ownMailTemplatePath(places, name);
    if (QFileInfo(own).isFile() || places.shipped.isEmpty()) {
        return own;
    }
    const QString shipped = places.shipped + name + kMailSuffix;
    if (QFileInfo(shipped).isFile() && !hiddenTemplates(places).contains(name)) {
        return shipped;
    }
    return own;
}

TemplateRemoval removeMailTemplate(const TemplatePlaces& places, const QString& name) {
    // hidden first: should removing the user's file fail, the list shows it as before
    if (!places.shipped.isEmpty() && QFileInfo(places.shipped + name + kMailSuffix).isFile() &&
        hide(places, name) == HideResult::Failed) {
        return TemplateRemoval::Failed;
    }
    const QString own = ownMailTemplatePath(places, name);
    if (QFileInfo(own).isFile() && !QFile::remove(own)) {
        return TemplateRemoval::Failed;
    }
    return TemplateRemoval::Removed;
}

LibraryNode scanLibraries(const TemplatePlaces& places) {
    LibraryNode root = scanIfThere(places.own);
    root.path = places.own;
    LibraryNode shipped = scanIfThere(places.shipped);
    QSet<QString> taken;
    collectTemplateNames(root, taken);
    prune(shipped, hiddenTemplates(places), taken);
    for (LibraryNode& child : shipped.children) {
        root.children.append(std::move(child));
    }
    return root;
}

TemplateRemoval removeHtmlTemplate(const TemplatePlaces& places, const LibraryNode& node) {
    if (!node.isTemplate) {
        return TemplateRemoval::Failed;
    }
    const bool own = !places.own.isEmpty() && node.path.startsWith(places.own);
    const LibraryNode shipped = scanIfThere(places.shipped);
    if (findTemplate(shipped, node.name) != nullptr) {
        if (hide(places, node.name) == HideResult::Failed) {
            return TemplateRemoval::Failed;
        }
    } else if (!own) {
        return TemplateRemoval::Failed;
    }
    if (own && !QDir(node.path).removeRecursively()) {
        return TemplateRemoval::Failed;
    }
    return TemplateRemoval::Removed;
}

}  // namespace pw
