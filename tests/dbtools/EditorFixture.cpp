#include "EditorFixture.h"
#include "RawStatement.h"

namespace pw::test {

void fillRecords(db::TDbData& store, int count, int filler) {
    QString columns;
    QString values;
    for (int k = 4; k <= db::kFieldCount && filler > 0; ++k) {
        columns += QStringLiteral(", FIELD%1").arg(k);
        values += QStringLiteral(", :f");
    }
    pw::test::execute(
        store, QStringLiteral(
                   "execute block as declare i int = 1; declare f varchar(255); begin "
                   "f = rpad('', %1, 'x'); while (i <= %2) do begin "
                   "insert into MAILS (ID, SENDED, SENDING, ADDRESS, NAME, FIELD3%3) values (:i, "
                   "iif(mod(:i, 7) = 0, 2, iif(mod(:i, 5) = 0, 1, 0)), mod(:i, 2), "
                   "'m' || :i || '@example.jp', 'Name ' || :i, "
                   "iif(mod(:i, 4) = 0, '', 'city' || mod(:i, 10))%4); i = i + 1; end end")
                   .arg(std::max(filler, 1))
                   .arg(count)
                   .arg(columns, values));
}

}  // namespace pw::test
