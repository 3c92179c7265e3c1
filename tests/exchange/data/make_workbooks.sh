#!/bin/sh
# Writes the workbook fixtures of the import tests from workbook_list.fods with LibreOffice
# (Debian's libreoffice-calc-nogui), as a user saving the list from Calc would:
#   sh tests/exchange/data/make_workbooks.sh
set -eu
here=$(cd "$(dirname "$0")" && pwd)
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
for target in 'xlsx:Calc MS Excel 2007 XML' 'xls:MS Excel 97'; do
    soffice -env:UserInstallation="file://$profile" --headless --norestore \
        --convert-to "$target" --outdir "$profile/out" "$here/workbook_list.fods" >/dev/null
done
cp "$profile/out/workbook_list.xlsx" "$here/libreoffice_list.xlsx"
cp "$profile/out/workbook_list.xls" "$here/libreoffice_list.xls"
