#include "bounces/ReadBouncesCommand.h"

#include "bounces/BounceReport.h"
#include "resources/Strings.h"

#include <QFile>

namespace pw::bounces {

namespace {

// Tabs and line breaks inside a field would break the columns.
QString cell(QString text) {
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

}  // namespace

bool isReadBouncesCommandLine(const QStringList& arguments) {
    return arguments.contains(QLatin1String("--read-bounces"));
}

ReadBouncesExit runReadBounces(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QStringList files;
    for (const QString& a : arguments)
        if (a != QLatin1String("--read-bounces"))
            files.append(a);
    if (files.isEmpty() || files.contains(QLatin1String("--help"))) {
        err << str(ids::kBounceUsage) << '\n';
        return files.isEmpty() ? ReadBouncesExit::Unusable : ReadBouncesExit::Complete;
    }
    ReadBouncesExit exit = ReadBouncesExit::Complete;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            err << str(ids::kBounceFileUnreadable).arg(path, file.errorString()) << '\n';
            exit = ReadBouncesExit::WithErrors;
            continue;
        }
        const std::vector<BounceReport> reports = readMailFile(file.readAll());
        // Numbered through the whole file, so that file and index name one line even when an
        // mbox holds several reports.
        int index = 0;
        for (const BounceReport& report : reports) {
            for (const RecipientOutcome& r : report.recipients) {
                out << cell(path) << '\t' << ++index << '\t' << cell(r.recipient) << '\t'
                    << r.status << '\t' << kindName(r.kind) << '\t' << cell(r.reason) << '\n';
            }
        }
        if (index == 0)
            out << cell(path) << "\t0\t\t\t\t\n";
    }
    out.flush();
    return exit;
}

}  // namespace pw::bounces
