#pragma once
// Renaming the 20 field captions ("Edit Field Names"): the checks a new caption must pass
// and the save in a transaction of its own, outside the main transaction.

#include <QString>
#include <array>
#include <functional>

#include "db/RecordCache.h"

namespace pw {
class IUserInteraction;
}
namespace pw::db {
class TDbData;
}

namespace pw::dbtools {

using Captions = std::array<QString, db::kFieldCount>;

// The first problem of the edited captions, as the message to show; empty when they can be
// saved. Only changed captions are checked (older files keep what they have): a caption must
// not be empty, must not hold "[[" or "]]" (the merge could not find it) and must differ from
// every other field's caption (the merge would be ambiguous); it must fit the database.
[[nodiscard]] QString CaptionProblem(const Captions& edited, const Captions& stored,
                                     int fieldLength, int* field = nullptr);

enum class FieldNamesResult { Saved, NoDatabase, Refused, Failed };

// OK of the dialog: checks (the message is shown on a problem), then writes every changed
// caption (UpdateCaption, or ReplaceCaptionRow when the field has no row, which then gets
// its position), sets the store's modified flag, commits, reloads the captions (every
// observer relabels). documentModified is called when a caption changed.
FieldNamesResult SaveFieldNames(db::TDbData& store, IUserInteraction& ui, const Captions& edited,
                                const std::function<void()>& documentModified,
                                int* badField = nullptr);

}  // namespace pw::dbtools
