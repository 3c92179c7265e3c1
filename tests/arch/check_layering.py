#!/usr/bin/env python3
"""Logic never includes widgets; the SMTP client includes nothing else of the system.

Widget code lives in a gui/ folder of its subsystem (and main.cpp); every other source
under src/ is logic and may use QtCore only."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
src = root / "src"
widget_include = re.compile(
    r'#\s*include\s*[<"](QtWidgets/|QtPrintSupport/|QtWebEngine|Q(Widget|Dialog|MainWindow|MessageBox|'
    r'Application|PushButton|Label|LineEdit|TableView|TreeView|ListView|Menu|MenuBar|ToolBar|Action|'
    r'ProgressDialog|ProgressBar|FileDialog|PlainTextEdit|TextEdit|TabWidget|CheckBox|ComboBox|'
    r'SpinBox|Printer|PrintDialog|PrintPreviewDialog|Splitter|StatusBar|AbstractButton|'
    r'HeaderView|GridLayout|VBoxLayout|HBoxLayout|FormLayout|GroupBox|RadioButton|Frame)[>"])')
system_include = re.compile(r'#\s*include\s*"(app|db|dbtools|exchange|compose|send|serversettings|print|resources)/')
faults = []
for path in sorted(src.rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    rel = path.relative_to(src)
    text = path.read_text(encoding="utf-8", errors="replace")
    is_gui = "gui" in rel.parts[:-1] or rel.name == "main.cpp"
    if not is_gui:
        for n, line in enumerate(text.splitlines(), 1):
            if widget_include.search(line):
                faults.append(f"{rel}:{n}: logic file includes a widget header: {line.strip()}")
    if rel.parts[0] == "smtp":
        for n, line in enumerate(text.splitlines(), 1):
            if system_include.search(line):
                faults.append(f"{rel}:{n}: the SMTP client must not depend on the rest: {line.strip()}")
for f in faults:
    print(f)
sys.exit(1 if faults else 0)
