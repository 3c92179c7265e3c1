#pragma once
// The embedded HTML view of every window that shows mail content: the main window's HTML
// tab, the template chooser, the wizard and the preview. It shows a local file with its
// relative pictures, or an empty page, and prints what it shows. Mail content runs as a
// mail client runs it: no scripts, no plugins, and a clicked link opens in the desktop's
// browser instead of inside the view.

#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <functional>

class QPrinter;
class QWebEngineProfile;

namespace pw {

// Opens a link the user clicked in an HTML view; the application's default is the desktop's
// handler, tests record the URL.
using LinkLauncher = std::function<void(const QUrl&)>;

class CWebBrowser : public QWebEngineView {
    Q_OBJECT
public:
    explicit CWebBrowser(QWidget* parent = nullptr);
    ~CWebBrowser() override;

    // A full file path or "about:blank". The load is asynchronous; the caller may rewrite or
    // delete the file after a later navigate.
    void navigate(const QString& target);
    void clear() { navigate(QStringLiteral("about:blank")); }

    // Asks for a printer with the print dialog and prints the shown page there.
    void printWithDialog();

    // Where clicked links go; without one, links open with QDesktopServices.
    void setLinkLauncher(LinkLauncher launcher);
    // The launcher every new view starts with (the application sets it once; tests too).
    static void setDefaultLinkLauncher(LinkLauncher launcher);

    // The one profile of all views: in memory only, no cache, so a rewritten file is shown
    // as it is now.
    static QWebEngineProfile* sharedProfile();

    // Only web and mail addresses leave the view; anything else a link names is ignored.
    [[nodiscard]] static bool isLaunchable(const QUrl& url);

signals:
    // The content asked to go elsewhere (a clicked link, a form, a refresh) and the view
    // stayed; a link has been handed to the launcher by then.
    void navigationRefused(const QUrl& url);

private:
    void launch(const QUrl& url) const;

    class Page;
    LinkLauncher m_launcher;
};

}  // namespace pw
