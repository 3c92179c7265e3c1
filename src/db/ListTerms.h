#pragma once
// What a recipient list shows and what a flag update changes, as values: the store alone
// turns them into statements.

#include <QString>

namespace pw::db {

enum class RowFlag { Sent = 0, Selected = 1 };

// A filter: the records whose field (0..19) equals the text, holds it, or does not hold it.
enum class FilterKind { Match = 0, Include = 1, Exclude = 2 };
struct ListFilter {
    int field = -1;
    QString text;
    FilterKind kind = FilterKind::Match;
};

// The list's order: by record ID, by a flag or by a field (0..19); records with equal keys
// come by ID.
enum class SortKey { Id, Sent, Selected, Field };
enum class SortDirection { Ascending, Descending };
struct ListOrder {
    SortKey key = SortKey::Id;
    int field = -1;
    SortDirection direction = SortDirection::Ascending;
};

// Which rows a flag update reaches: every one, those not sent, those sent, or one record.
enum class FlagRows { All, NotSent, Sent, Record };
struct FlagUpdate {
    RowFlag flag = RowFlag::Selected;
    int value = 0;
    FlagRows rows = FlagRows::All;
    int recordId = -1;  // for FlagRows::Record
};

}  // namespace pw::db
