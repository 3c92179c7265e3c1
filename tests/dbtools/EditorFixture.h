#pragma once
// Databases for the editor's tests, filled by the engine itself so that 20000 records take
// a moment, not minutes.

#include "DbFixture.h"

namespace pw::test {

// Records 1..count: ADDRESS "m<i>@example.jp", NAME "Name <i>", FIELD3 "city<i % 10>" (empty
// for every 4th record), SENDED 2 for every 7th, 1 for every 5th, else 0; SENDING i % 2.
// Every other field is `filler` characters of 'x' when filler > 0, NULL otherwise.
void fillRecords(db::TDbData& store, int count, int filler = 0);

}  // namespace pw::test
