// The preview's Next from one recipient to the next (an HTML template with two pictures,
// until both HTML views have loaded the page) and the wizard opening a template (the copy
// into the wizard folder, reading the document, the window and its first page). Medians of
// wall and CPU time of this process; the page rendering itself runs in WebEngine's own
// process, whose CPU time is not counted.
//   bench_templates [rounds]

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "compose/MailDocument.h"
#include "compose/TemplateLibrary.h"
#include "compose/TemplateWizard.h"
#include "compose/gui/CWebBrowser.h"
#include "compose/gui/d_FormEdit.h"
#include "compose/gui/d_Preview.h"
#include "resources/UserInteraction.h"
#include "send/PreviewSource.h"
#include "support/BenchSupport.h"

using namespace pw::bench;

namespace {

class Silent : public pw::IUserInteraction {
public:
    pw::Answer message(const QString&, const QString&, pw::MessageKind) override {
        return pw::Answer::No;
    }
    std::unique_ptr<pw::IProgress> createProgress() override { return nullptr; }
};

bool waitLoaded(QSignalSpy& spy, int count) {
    for (int i = 0; i < 2000 && spy.count() < count; ++i) {
        spy.wait(10);
    }
    return spy.count() >= count;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (::geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(3, atoi(argv[1])) : 15;
    const QString library = QStringLiteral(POSTWICK_SOURCE_DIR "/data/HTML TEMPLATE/");
    const QString name = QStringLiteral("Newsletter (English)");
    QTemporaryDir dir;
    const QString mainFolder = dir.path() + "/PostwickMainPreview/";
    const QString wizardFolder = dir.path() + "/PostwickWizardPreview/";
    QDir().mkpath(mainFolder);
    pw::copyFolderFiles(library + name + '/', mainFolder);

    // ---- the preview's Next
    pw::send::MailJob job;
    job.senderAddress = "shop@example.org";
    job.subject = "News for [[Name]]";
    job.recipientText = "[[Mail Address]]";
    job.bodyText = QString("Dear [[Name]],\r\nthe news of this month.\r\n").repeated(20);
    job.htmlFileName = name;
    job.htmlFiles = pw::filesInFolder(mainFolder);
    job.mainPreviewFolder = mainFolder;
    job.charsetRow = 1;
    job.captions[0] = "Mail Address";
    job.captions[1] = "Name";
    job.messageIdDomain = "mail.example.org";
    std::vector<pw::send::FieldTexts> rows(static_cast<size_t>(rounds + 1));
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i][0] = QString("reader%1@example.org").arg(i);
        rows[i][1] = QString("Reader %1").arg(i);
    }
    auto preview = std::make_unique<pw::CMailPreview>(
        std::make_unique<pw::send::CAssemblyPreviewSource>(
            std::make_unique<pw::send::CMessageAssembly>(job, rows), pw::send::SendMode::Merge),
        mainFolder);
    pw::d_Preview window(std::move(preview), QFont());
    window.show();
    auto* html = window.findChild<pw::CWebBrowser*>("html");
    auto* phone = window.findChild<pw::CWebBrowser*>("phoneHtml");
    QSignalSpy a(html, &QWebEngineView::loadFinished);
    QSignalSpy b(phone, &QWebEngineView::loadFinished);
    waitLoaded(a, 1);
    waitLoaded(b, 1);
    std::vector<double> wall, cpu;
    for (int i = 0; i < rounds; ++i) {
        a.clear();
        b.clear();
        QElapsedTimer t;
        t.start();
        const double c0 = cpuMs(CpuClock::Process);
        window.onNext();
        if (!waitLoaded(a, 1) || !waitLoaded(b, 1)) {
            std::fprintf(stderr, "the views did not load\n");
            return 1;
        }
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(cpuMs(CpuClock::Process) - c0);
    }
    std::printf("preview_next_median: %.1f ms\n", median(wall));
    std::printf("preview_next_cpu_median: %.1f ms\n", median(cpu));

    std::vector<double> buildWall, buildCpu;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const double c0 = cpuMs(CpuClock::Process);
        window.preview().build();
        buildWall.push_back(t.nsecsElapsed() / 1e6);
        buildCpu.push_back(cpuMs(CpuClock::Process) - c0);
    }
    std::printf("preview_build_median: %.2f ms\n", median(buildWall));
    std::printf("preview_build_cpu_median: %.2f ms\n", median(buildCpu));
    window.close();

    // ---- the wizard opening a template
    Silent ui;
    std::vector<double> openWall, openCpu;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const double c0 = cpuMs(CpuClock::Process);
        const QStringList pictures = pw::prepareWizardFolder(library + name + '/', name, QString(),
                                                             mainFolder, wizardFolder);
        pw::CTemplateWizard wizard(
            {wizardFolder, mainFolder, library + name + '/', name, pictures, {"Sans", 10}});
        wizard.open();
        pw::d_FormEdit form(wizard, ui);
        auto* large = form.findChild<pw::CWebBrowser*>("largeView");
        QSignalSpy loaded(large, &QWebEngineView::loadFinished);
        form.show();
        if (!waitLoaded(loaded, 1)) {
            std::fprintf(stderr, "the wizard's view did not load\n");
            return 1;
        }
        openWall.push_back(t.nsecsElapsed() / 1e6);
        openCpu.push_back(cpuMs(CpuClock::Process) - c0);
    }
    std::printf("wizard_open_median: %.1f ms\n", median(openWall));
    std::printf("wizard_open_cpu_median: %.1f ms\n", median(openCpu));
    return 0;
}
