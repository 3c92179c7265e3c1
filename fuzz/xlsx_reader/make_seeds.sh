#!/usr/bin/env bash
# Writes the starting corpus of the workbook fuzzer: real workbooks from independent writers
# (Perl's Spreadsheet::WriteExcel for .xls, libxlsxwriter for .xlsx), each behind the 0 byte
# that tells the target to read the input as the workbook file itself.
set -euo pipefail
out=${1:-$(dirname "$0")/seeds}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
seed() { { printf '\0'; cat "$2"; } >"$out/$1"; }

perl -e '
use strict; use utf8; use Spreadsheet::WriteExcel;
my $wb = Spreadsheet::WriteExcel->new($ARGV[0]);
my $a = $wb->add_worksheet("顧客"); my $b = $wb->add_worksheet("Data");
my $date = $wb->add_format(num_format => "yyyy-mm-dd");
for my $r (0..30) { $a->write_string($r, 0, "name $r 山田"); $a->write_number($r, 1, $r * 1.5); }
$a->write_string(31, 2, "x" x 300);
$b->write_number(2, 2, 12.7); $b->write_string(2, 3, "007");
$b->write_date_time(2, 4, "2024-03-15T", $date);
$b->write_formula(3, 2, "=1+1", undef, 2);
$b->write_formula(3, 3, q{="a"&"b"}, undef, "ab");
$b->write_formula(3, 4, "=TRUE", undef, "TRUE");
$b->write_string(4, 255, "far");
$b->activate(); $wb->close();' "$tmp/a.xls"
seed xls_two_sheets_formulas "$tmp/a.xls"

perl -e '
use strict; use Spreadsheet::WriteExcel;
my $wb = Spreadsheet::WriteExcel->new($ARGV[0]);
my $s = $wb->add_worksheet("One");
$s->write_string(0, 0, "mail"); $s->write_string(1, 0, "a\@example.com"); $s->write_number(1, 1, 42);
$wb->close();' "$tmp/b.xls"
seed xls_one_sheet "$tmp/b.xls"

cat >"$tmp/x.c" <<'C'
#include <xlsxwriter.h>
int main(int argc, char** argv) {
    lxw_workbook* wb = workbook_new(argv[1]);
    lxw_worksheet* a = workbook_add_worksheet(wb, "First");
    lxw_worksheet* b = workbook_add_worksheet(wb, "Daten");
    lxw_format* date = workbook_add_format(wb);
    format_set_num_format(date, "yyyy-mm-dd");
    worksheet_write_string(a, 0, 0, "only", NULL);
    worksheet_write_number(b, 4, 2, 12.7, NULL);
    worksheet_write_string(b, 4, 3, "007", NULL);
    lxw_datetime dt = {2024, 3, 15, 0, 0, 0};
    worksheet_write_datetime(b, 4, 5, &dt, date);
    worksheet_write_boolean(b, 4, 6, 1, NULL);
    worksheet_write_string(b, 5, 3, "山田太郎", NULL);
    worksheet_write_formula_num(b, 5, 4, "=1+2", NULL, 3);
    worksheet_activate(b);
    return workbook_close(wb);
}
C
cc "$tmp/x.c" -o "$tmp/x" -lxlsxwriter
"$tmp/x" "$tmp/c.xlsx"
seed xlsx_two_sheets "$tmp/c.xlsx"

# the split form: shared strings, NUL, sheet part, packed by the target into a fixed workbook
printf '%s\0%s' '<sst><si><t>a@example.com</t></si><si><r><t>ri</t></r><r><t>ch</t></r></si></sst>' \
  '<worksheet><sheetData><row r="2"><c r="B2" t="s"><v>0</v></c><c r="C2" t="s"><v>1</v></c><c r="D2"><v>12.7</v></c><c r="E2" t="inlineStr"><is><t>x</t></is></c></row></sheetData></worksheet>' \
  >"$out/xlsx_parts_shared_and_inline"
