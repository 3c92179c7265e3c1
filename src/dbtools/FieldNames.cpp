#include "dbtools/FieldNames.h"

#include "db/TDbData.h"
#include "resources/Strings.h"
#include "resources/UserInteraction.h"

namespace pw::dbtools {

QString CaptionProblem(const Captions& edited, const Captions& stored, int fieldLength,
                       int* field) {
    for (int i = 0; i < db::kFieldCount; ++i) {
        const QString& c = edited[i];
        if (c == stored[i])
            continue;
        if (field)
            *field = i;
        if (c.trimmed().isEmpty())
            return str(ids::kCaptionEmpty).arg(i + 1);
        if (c.contains(QLatin1String("[[")) || c.contains(QLatin1String("]]")))
            return str(ids::kCaptionBrackets).arg(i + 1);
        if (c.toUtf8().size() > fieldLength)
            return str(ids::kCaptionTooLong).arg(i + 1).arg(fieldLength);
        for (int j = 0; j < db::kFieldCount; ++j)
            if (j != i && edited[j] == c)
                return str(ids::kCaptionDuplicate)
                    .arg(std::min(i, j) + 1)
                    .arg(std::max(i, j) + 1)
                    .arg(c);
    }
    return {};
}

FieldNamesResult SaveFieldNames(db::TDbData& store, IUserInteraction& ui, const Captions& edited,
                                const std::function<void()>& documentModified, int* badField) {
    if (!store.IsOpen())
        return FieldNamesResult::NoDatabase;
    const Captions stored = store.FieldCaptions().Captions();
    const QString problem = CaptionProblem(edited, stored, store.StringFieldLength(), badField);
    if (!problem.isEmpty()) {
        inform(ui, problem);
        return FieldNamesResult::Refused;
    }
    bool changed = false;
    FieldNamesResult result = FieldNamesResult::Saved;
    try {
        std::vector<db::CaptionChange> changes;
        for (int i = 0; i < db::kFieldCount; ++i) {
            if (edited[i] != stored[i])
                changes.push_back({i, edited[i]});
        }
        store.FieldCaptions().WriteCaptions(changes, 0);
        store.SetModified();
        changed = !changes.empty();
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Saving the field names", e);
        result = FieldNamesResult::Failed;
        changed = false;
    }
    try {
        store.FieldCaptions().ReloadCaptions();
    } catch (const db::StoreError& e) {
        store.ReportDroppedError("Reloading the field names", e);
    }
    if (changed && documentModified)
        documentModified();
    return result;
}

}  // namespace pw::dbtools
