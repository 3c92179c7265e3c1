#include "compose/gui/CWebBrowser.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace pw {

namespace {

LinkLauncher& defaultLauncher() {
    static LinkLauncher launcher;
    return launcher;
}

void applyMailSettings(QWebEngineSettings* s) {
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::WebGLEnabled, false);
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    // a template may name its pictures by web address, as the mail will
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    // the program's HTML files are UTF-8 and carry no declaration of their own
    s->setDefaultTextEncoding(QStringLiteral("utf-8"));
}

}  // namespace

// Refuses every navigation the user starts from inside the content; the view itself only
// goes where navigate() sends it.
class CWebBrowser::Page : public QWebEnginePage {
public:
    Page(CWebBrowser* view, bool popup)
        : QWebEnginePage(CWebBrowser::sharedProfile(), view), m_view(view), m_popup(popup) {
        applyMailSettings(settings());
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (m_popup) {
            // a link with a target window: hand it on and drop the window
            m_view->launch(url);
            deleteLater();
            return refuse(url);
        }
        switch (type) {
            case NavigationTypeLinkClicked:
                m_view->launch(url);
                return refuse(url);
            case NavigationTypeFormSubmitted:
                return refuse(url);
            case NavigationTypeRedirect:
                // a meta refresh must not carry the view away from the mail
                return (isMainFrame && (url.isLocalFile() || url.scheme() == "about")) ||
                       refuse(url);
            default:
                return true;
        }
    }

    bool refuse(const QUrl& url) {
        emit m_view->navigationRefused(url);
        return false;
    }

    QWebEnginePage* createWindow(WebWindowType) override { return new Page(m_view, true); }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override {}

private:
    CWebBrowser* m_view;
    bool m_popup;
};

CWebBrowser::CWebBrowser(QWidget* parent) : QWebEngineView(parent) {
    setPage(new Page(this, false));
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    m_launcher = defaultLauncher();
}

CWebBrowser::~CWebBrowser() = default;

QWebEngineProfile* CWebBrowser::sharedProfile() {
    static QWebEngineProfile* profile = [] {
        // every page of the views is a local file: one renderer process serves them all,
        // instead of a new process (about a second to start) for each new view
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--process-per-site")) {
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --process-per-site").trimmed());
        }
        // off the record: nothing of a mail is written to disk by the engine
        auto* p = new QWebEngineProfile(QCoreApplication::instance());
        p->setHttpCacheType(QWebEngineProfile::NoCache);
        p->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        p->setSpellCheckEnabled(false);
        applyMailSettings(p->settings());
        return p;
    }();
    return profile;
}

void CWebBrowser::navigate(const QString& target) {
    if (target.isEmpty() || target == QLatin1String("about:blank")) {
        load(QUrl(QStringLiteral("about:blank")));
        return;
    }
    const QUrl url = QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath());
    // the same address again still reads the file anew (a file rewritten in place)
    if (url == this->url()) {
        page()->triggerAction(QWebEnginePage::ReloadAndBypassCache);
        return;
    }
    load(url);
}

void CWebBrowser::printWithDialog() {
    // the printer must outlive the asynchronous print
    auto* printer = new QPrinter(QPrinter::HighResolution);
    QPrintDialog dialog(printer, this);
    if (dialog.exec() != QDialog::Accepted) {
        delete printer;
        return;
    }
    connect(
        this, &QWebEngineView::printFinished, this, [printer](bool) { delete printer; },
        Qt::SingleShotConnection);
    print(printer);
}

void CWebBrowser::setLinkLauncher(LinkLauncher launcher) {
    m_launcher = std::move(launcher);
}

void CWebBrowser::setDefaultLinkLauncher(LinkLauncher launcher) {
    defaultLauncher() = std::move(launcher);
}

bool CWebBrowser::isLaunchable(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https" || scheme == "mailto");
}

void CWebBrowser::launch(const QUrl& url) const {
    if (!isLaunchable(url)) {
        return;
    }
    if (m_launcher) {
        m_launcher(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

}  // namespace pw
