#pragma once
// A list of addresses read from a file through the import readers (CSV and text, .xls and
// .xlsx), for the suppression list: every cell that is a mail address counts, so a plain
// list, an export of another program and a recipient file all work.

#include <QString>
#include <QStringList>

#include "resources/UserInteraction.h"

namespace pw::exchange {

struct AddressListRead {
    bool ok = false;  // false: the file could not be read (the user was told why)
    QStringList addresses;
};

// Reads the first worksheet of a workbook; a text file is read comma-delimited except
// ".txt" and ".tsv", which are read tab-delimited when they hold tabs.
[[nodiscard]] AddressListRead readAddressList(const QString& path, IUserInteraction& ui);

}  // namespace pw::exchange
