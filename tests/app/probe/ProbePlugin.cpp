// Loaded into an installed postwick (QT_QPA_GENERIC_PLUGINS=postwickprobe), it plays a new
// user: past Getting Started, it opens Select Template, the HTML template chooser, Save As
// Template and the manual, writes what each showed into the report file
// ($POSTWICK_PROBE_REPORT, one "key=value" line each), and closes the window without saving.
// The desktop's opener is replaced by the report, so no browser starts.

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFile>
#include <QGenericPlugin>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

namespace {

class Probe : public QObject {
    Q_OBJECT
public:
    Probe() {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openFile");
        m_timer.setInterval(100);
        connect(&m_timer, &QTimer::timeout, this, &Probe::step);
        m_timer.start();
        // a probe that got stuck ends the program rather than the test's patience
        QTimer::singleShot(120000, this, [this] {
            report("timeout", QString::number(m_stage));
            QCoreApplication::exit(3);
        });
    }

public slots:
    void openFile(const QUrl& url) { report("opened", url.toLocalFile()); }

private:
    void report(const char* key, const QString& value) {
        QFile f(qEnvironmentVariable("POSTWICK_PROBE_REPORT"));
        if (f.open(QIODevice::Append))
            f.write(QByteArray(key) + '=' + value.toUtf8() + '\n');
    }

    QWidget* mainWindow() const {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("CPZPtestDlg") && w->isVisible())
                return w;
        }
        return nullptr;
    }

    void trigger(int command) {
        QWidget* window = mainWindow();
        auto* action = window
                           ? window->findChild<QAction*>(QStringLiteral("command%1").arg(command))
                           : nullptr;
        if (!action) {
            report("missing", QString::number(command));
            return;
        }
        // queued: the dialog's own loop must not run inside this timer's call
        QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }

    // One move per tick: answer the dialog that is up, else start the next command.
    void step() {
        QWidget* modal = QApplication::activeModalWidget();
        const QString name = modal ? modal->objectName() : QString();
        if (name == QLatin1String("d_StartForm")) {
            report("gettingStarted", QStringLiteral("shown"));
            static_cast<QDialog*>(modal)->accept();
        } else if (name == QLatin1String("SelTemp")) {
            QStringList names;
            auto* list = modal->findChild<QListWidget*>(QStringLiteral("templates"));
            for (int i = 0; list && i < list->count(); ++i)
                names << list->item(i)->text();
            report("mailTemplates", names.join(u'|'));
            static_cast<QDialog*>(modal)->reject();
        } else if (name == QLatin1String("d_HTMLTempSelect")) {
            QStringList names;
            auto* tree = modal->findChild<QTreeWidget*>(QStringLiteral("tree"));
            QTreeWidgetItem* root = tree ? tree->topLevelItem(0) : nullptr;
            for (int i = 0; root && i < root->childCount(); ++i)
                names << root->child(i)->text(0);
            report("htmlTemplates", names.join(u'|'));
            static_cast<QDialog*>(modal)->reject();
        } else if (name == QLatin1String("d_SSTemplate")) {
            if (auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("name")))
                edit->setText(qEnvironmentVariable("POSTWICK_PROBE_TEMPLATE"));
            report("savedAsTemplate", qEnvironmentVariable("POSTWICK_PROBE_TEMPLATE"));
            static_cast<QDialog*>(modal)->accept();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            // the question at close: not saved; anything else is in the report
            report("message", box->text());
            if (QAbstractButton* no = box->button(QMessageBox::No))
                no->click();
            else
                box->accept();
        } else if (modal) {
            report("unexpected", name);
            modal->close();
        } else if (QWidget* window = mainWindow()) {
            if (!window->windowTitle().contains(QLatin1String("Untitled")) && m_stage == 0)
                return;  // the fresh document is still being prepared
            switch (m_stage++) {
                case 0:
                    trigger(32834);
                    break;  // Select Template
                case 1:
                    trigger(32781);
                    break;  // Select HTML Template
                case 2:
                    if (auto* subject = window->findChild<QLineEdit*>(QStringLiteral("subject")))
                        subject->setText(QStringLiteral("From the installed program"));
                    trigger(32780);  // Save As Template
                    break;
                case 3:
                    trigger(32804);
                    break;  // Manual
                case 4:
                    report("closing", QString());
                    window->close();
                    break;
                default:
                    break;
            }
        }
    }

    QTimer m_timer;
    int m_stage = 0;
};

}  // namespace

class ProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "probe.json")
public:
    QObject* create(const QString&, const QString&) override { return new Probe; }
};

#include "ProbePlugin.moc"
