#include "compose/TemplateWizard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "compose/MailDocument.h"
#include "compose/TemplateLibrary.h"

namespace pw {

namespace {

QString fileNameOf(const QString& path) {
    return pictureValueToWrite(path);
}

}  // namespace

CTemplateWizard::CTemplateWizard(WizardSetup setup)
    : m_setup(std::move(setup)), m_pictures(m_setup.pictureList) {}

void CTemplateWizard::open() {
    m_doc =
        CTemplateDocument(readHtmlFile(m_setup.wizardFolder + QStringLiteral("index.html")).text);
    m_links.reset();
    m_page = 0;
    show(0);
}

const TagProp* CTemplateWizard::page() const {
    return m_page >= 0 && m_page < pageCount() ? &m_doc.pages().at(m_page) : nullptr;
}

PageControls CTemplateWizard::controls() const {
    PageControls c;
    c.goBack = m_page > 0;
    c.last = m_page >= pageCount() - 1;
    if (const TagProp* t = page()) {
        const bool picture = t->kind == TagKind::Image || t->kind == TagKind::Back;
        c.select = picture;
        c.url = picture;
        c.textColor = !picture;
        c.textBox = t->kind == TagKind::String;
    }
    return c;
}

QString CTemplateWizard::pagePreviewPicture() const {
    if (m_setup.templateFolder.isEmpty()) {
        return {};
    }
    const QString path = m_setup.templateFolder + QStringLiteral("preview/0") +
                         QString::number(m_page + 1) + QStringLiteral(".jpg");
    return QFileInfo(path).isFile() ? path : QString();
}

void CTemplateWizard::show(int index) {
    m_page = index;
    m_old.clear();
    m_new.clear();
    m_startColor.reset();
    m_color.reset();
    m_styled = StyledText{};
    const TagProp* t = page();
    QString temp;
    if (t != nullptr) {
        const QString value = m_doc.value(m_page).value_or(QString());
        switch (t->kind) {
            case TagKind::Image:
                m_old = m_new = value;
                temp = t->content;
                break;
            case TagKind::Back:
                m_old = m_new = value;
                // a lone table cell shows nothing: the page shows its picture as the background
                temp = QStringLiteral("<body background=\"") + value + QStringLiteral("\">") +
                       t->content;
                break;
            case TagKind::BgColor:
                m_startColor = m_color = parseHtmlColor(value);
                temp = (m_color ? QStringLiteral("<body bgcolor=\"") + htmlColor(*m_color) +
                                      QStringLiteral("\">")
                                : QString()) +
                       t->content;
                break;
            case TagKind::String:
                m_styled = parseTextMarkup(t->content, m_setup.defaults, m_links);
                temp = t->content;
                break;
        }
    }
    QFile::remove(pageFile());
    (void)writeHtmlFile(pageFile(), temp);
}

void CTemplateWizard::removeUnusedPicture(const QString& name) {
    if (name.isEmpty() || isWebReference(name) || name == u"index.html" ||
        !m_pictures.contains(name)) {
        return;
    }
    // a picture the template uses in another place too stays
    if (m_doc.text().contains(name)) {
        return;
    }
    QFile::remove(m_setup.wizardFolder + name);
    m_pictures.removeAll(name);
}

void CTemplateWizard::applyPage() {
    const TagProp* t = page();
    if (t == nullptr) {
        return;
    }
    switch (t->kind) {
        case TagKind::Image:
        case TagKind::Back: {
            if (m_new != m_old) {
                const QString written = pictureValueToWrite(m_new);
                if (m_doc.setValue(m_page, written)) {
                    removeUnusedPicture(fileNameOf(m_old));
                    if (!written.isEmpty() && !m_pictures.contains(written)) {
                        m_pictures.append(written);
                    }
                }
            }
            break;
        }
        case TagKind::BgColor:
            if (m_color != m_startColor && m_color) {
                (void)m_doc.setValue(m_page, htmlColor(*m_color));
            }
            break;
        case TagKind::String:
            m_doc.setContent(m_page, writeTextMarkup(m_styled, m_setup.defaults, m_links));
            break;
    }
    show(m_page);
}

bool CTemplateWizard::chooseBackgroundFile(const QString& path) {
    const QFileInfo source(path);
    const QString name = source.fileName();
    const QString target = m_setup.wizardFolder + name;
    // the wizard folder's own file chosen again is already in place
    if (source.canonicalFilePath() != QFileInfo(target).canonicalFilePath()) {
        const QString partial = target + QStringLiteral(".part");
        QFile::remove(partial);
        if (!QFile::copy(path, partial)) {
            QFile::remove(partial);
            return false;
        }
        QFile::remove(target);
        if (!QFile::rename(partial, target)) {
            QFile::remove(partial);
            return false;
        }
    }
    m_new = name;
    applyPage();
    return true;
}

void CTemplateWizard::takeEditedPicture(const QString& path) {
    m_new = fileNameOf(path);
    QFile::remove(pageFile());
    (void)writeHtmlFile(pageFile(), QStringLiteral("<img src=\"") + m_new + QStringLiteral("\">"));
}

void CTemplateWizard::setUrl(const QString& url) {
    m_new = url;
    applyPage();
}

void CTemplateWizard::next() {
    applyPage();
    if (m_page + 1 < pageCount()) {
        show(m_page + 1);
    }
}

void CTemplateWizard::back() {
    applyPage();
    if (m_page > 0) {
        show(m_page - 1);
    }
}

bool CTemplateWizard::finish() {
    applyPage();
    const QString wizard = m_setup.wizardFolder;
    QFile::remove(pageFile());
    const QString index = wizard + QStringLiteral("index.html");
    const QString written = index + QStringLiteral(".new");
    if (!writeHtmlFile(written, m_doc.text())) {
        QFile::remove(written);
        return false;
    }
    QFile::remove(index);
    if (!QFile::rename(written, index)) {
        return false;
    }
    if (!m_pictures.contains(QStringLiteral("index.html"))) {
        m_pictures.prepend(QStringLiteral("index.html"));
    }
    QDir().mkpath(m_setup.mainPreviewFolder);
    (void)emptyFolderFiles(m_setup.mainPreviewFolder);
    copyFolderFiles(wizard, m_setup.mainPreviewFolder);
    (void)emptyFolderFiles(wizard);
    return true;
}

}  // namespace pw
