#!/usr/bin/env python3
"""The layering of the program, checked on its sources and on its build.

Every subsystem under src/ is two libraries: pw_<name>, its logic (the folder's own sources),
and pw_<name>_gui, its widget code (the gui/ subfolder). Programs (main.cpp, src/app/tools/)
count as widget code of their subsystem.

  1. Order: a file of subsystem X includes only X and the subsystems below X in ORDER.
     ORDER is the dependency list of src/<name>/CMakeLists.txt as it is; the check fails
     when the two disagree, so the order is changed here and in CMake together.
  2. Logic never includes widget code (any gui/ header, a widget or WebEngine header) and
     uses no QtGui type, except the ones QTGUI_ALLOWED names for a file.
  3. Build (with the link graph written by tests/arch/CMakeLists.txt): a logic target links
     only logic targets, QtCore, the Qt modules LOGIC_QT_EXTRA names and non-Qt libraries;
     so do the programs LOGIC_PROGRAMS names (checked on the binaries too, when built).
  4. The store asks the user nothing: no file of src/db names the user-interaction interface;
     it returns what it found, and its callers ask and tell.
  5. The database engine stays in src/db: no file elsewhere names an engine type (IBPP) or
     holds a statement or a piece of one (a string literal that reads as SQL: a condition,
     an order, a comparison, a name of the store's tables and columns); the store's handles
     (db/StoreHandles.h) and its engine side (db/StoreEngine.h) reach only src/db and its
     tests, and the engine types no other test or benchmark.

usage: check_layering.py <source dir> [<link graph>]
       check_layering.py --self-test   (the SQL checks on planted files, row by row)
"""
import pathlib
import re
import subprocess
import sys

# Direct dependencies between the subsystems, from src/<name>/CMakeLists.txt.
# The order they give, bottom up:
#   resources, smtp  (smtp depends on nothing else of the program, not even resources)
#   db
#   exchange, compose (smtp: the connection kinds of the server settings), print
#   send (compose, smtp), dbtools (print)
#   bounces (send), serversettings (send)
#   app (everything)
ORDER = {
    "resources": [],
    "smtp": [],
    "db": ["resources"],
    "exchange": ["db", "resources"],
    "compose": ["db", "smtp", "resources"],
    "print": ["db", "resources"],
    "send": ["smtp", "db", "compose", "resources"],
    "dbtools": ["db", "resources", "print"],
    "bounces": ["send", "compose", "db", "resources"],
    "serversettings": ["send", "compose", "db", "resources"],
    "app": ["send", "bounces", "exchange", "compose", "db", "smtp", "resources", "serversettings",
            "dbtools", "print"],
}

# QtGui types a logic file truly needs: {"sub/File.cpp": {"QType", ...}}. None today.
QTGUI_ALLOWED: dict[str, set[str]] = {}

# Qt modules beyond QtCore that a logic target may link (none of them links QtGui).
LOGIC_QT_EXTRA = {
    "serversettings": {"Network"},  # the OAuth sign-in
    "send": {"Network"},  # the DNS lookups of the check before a run
}
# Linked by no logic target, directly or through others.
GUI_QT = re.compile(r"^Qt6?::(Gui|Widgets|WebEngine\w*|PrintSupport|OpenGL\w*|Quick\w*|Qml\w*|Svg\w*)$")
GUI_SONAME = re.compile(r"libQt6(Gui|Widgets|WebEngine\w*|PrintSupport|OpenGL\w*|Quick\w*|Qml\w*)\.so")

# Programs that must stay logic: the command-line sender's test program, and the tests of the
# send run, the database and the SMTP client (tests/send, tests/db, tests/smtp) except the
# window tests named here.
LOGIC_PROGRAMS = {"test_send_cli"}
LOGIC_TEST_DIRS = ("tests/send/", "tests/db/", "tests/smtp/", "tests/bounces/")
WINDOW_TESTS = {"test_preview_window"}

WIDGET_INCLUDE = re.compile(
    r'#\s*include\s*[<"](QtWidgets/|QtPrintSupport/|QtWebEngine|Q(Widget|Dialog|MainWindow|MessageBox|'
    r'Application|PushButton|Label|LineEdit|TableView|TreeView|ListView|Menu|MenuBar|ToolBar|'
    r'ProgressDialog|ProgressBar|FileDialog|PlainTextEdit|TextEdit|TabWidget|CheckBox|ComboBox|'
    r'SpinBox|Printer|PrintDialog|PrintPreviewDialog|Splitter|StatusBar|AbstractButton|'
    r'HeaderView|GridLayout|VBoxLayout|HBoxLayout|FormLayout|GroupBox|RadioButton|Frame)[>"])')
QTGUI_INCLUDE = re.compile(r'#\s*include\s*[<"]QtGui/')
QTGUI_TYPES = re.compile(
    r"\b(Q(Action|Bitmap|Brush|Clipboard|Color|Cursor|DesktopServices|Drag|FileSystemModel|Font|"
    r"FontDatabase|FontMetrics|FontMetricsF|GuiApplication|Icon|Image|ImageReader|ImageWriter|"
    r"IntValidator|DoubleValidator|KeyEvent|KeySequence|LinearGradient|MouseEvent|Movie|"
    r"PageLayout|PageSize|PaintDevice|Painter|PainterPath|Palette|PdfWriter|Pen|Picture|Pixmap|"
    r"Polygon|PolygonF|RadialGradient|Region|RegularExpressionValidator|Rgb|Screen|Shortcut|"
    r"StandardItem|StandardItemModel|StaticText|SyntaxHighlighter|TextBlock|TextCharFormat|"
    r"TextCursor|TextDocument|TextDocumentFragment|TextFormat|TextLayout|TextOption|Transform|"
    r"UndoStack|Validator|Window)|qRgba?|qRed|qGreen|qBlue|qAlpha|qGray)\b")
SYSTEM_INCLUDE = re.compile(r'#\s*include\s*"([a-z]+)/(gui/)?')
ENGINE = re.compile(r"\bIBPP\b|db/StoreHandles\.h|\bStoreHandles\b|db/StoreEngine\.h")
# A string literal that starts as a statement does: "select ... from", "update ... set",
# "insert into", "delete from", "execute block", "alter table", "create index", ... (user
# texts such as "Select All" or "Delete Record" are not statements).
SQL_LITERAL = re.compile(
    r'"\s*(select\s[^"]*\bfrom\b|update\s+\w+\s+set\b|insert\s+into\b|delete\s+from\b|'
    r'execute\s+(block|procedure|statement)\b|(alter|create|drop)\s+(table|index|procedure|'
    r'trigger|generator|domain|view|database)\b)', re.IGNORECASE)

# A piece of a statement: "(%1 containing %2)", " order by NAME", " where ID = 3", " Sending = 1 ",
# a table or column of the store ("MAILS", "SENDED", "FIELD7"). The operators need blanks on
# both sides, as statements are written here: "unsaved=1" in a marker file is no SQL.
SQL_FRAGMENT = re.compile(
    r"\b(?i:order\s+by)\s+(%\d|[A-Z_][A-Z0-9_]*\b|\w+\s+(?i:asc|desc)\b)"
    r"|(?i:\b(not\s+)?containing\s+('|%\d|\?|:\w)"
    r"|\bwhere\s+\(?[\w%.]+\s*(=|<>|<|>|\bin\b|\bis\b|\blike\b|\bcontaining\b)"
    r"|[\w)]\s+(=|<>|<=|>=)\s+('|\d|%\d|\?|:\w))"
    r"|\b(SENDED|SENDING|IDGROUP|IDMAIL|GROUP_MAIL|MAIL_FIELDS|MAILS|ORDER_F|DUBLIC_VALUE|"
    r"TEMP_DUBLIC_VALUES|ADDRESS|FIELD(?:[3-9]|1\d|20)|Sended)\b")
ASKS_USER = re.compile(r"\bIUserInteraction\b|resources/UserInteraction\.h")
STRING_LITERAL = re.compile(r'"((?:\\.|[^"\\])*)"')


def reads_as_sql(line):
    if SQL_LITERAL.search(line):
        return True
    return any(SQL_FRAGMENT.search(m.group(1)) for m in STRING_LITERAL.finditer(line))


def closure(sub):
    seen, todo = set(), list(ORDER[sub])
    while todo:
        s = todo.pop()
        if s not in seen:
            seen.add(s)
            todo.extend(ORDER[s])
    return seen


def code_lines(text):
    """The lines without // comments and string literals (a type named in prose is no use)."""
    for n, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("#"):
            yield n, line, line
            continue
        bare = re.sub(r'"(\\.|[^"\\])*"', '""', line)
        yield n, line, bare.split("//", 1)[0]


def check_sources(src, faults):
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp") or path.parts[len(src.parts)] not in ORDER:
            continue
        rel = path.relative_to(src)
        sub = rel.parts[0]
        is_gui = "gui" in rel.parts[1:-1] or "tools" in rel.parts[1:-1] or rel.name == "main.cpp"
        allowed = closure(sub) | {sub}
        for n, line, code in code_lines(path.read_text(encoding="utf-8", errors="replace")):
            m = SYSTEM_INCLUDE.search(line)
            if m and m.group(1) in ORDER:
                target, target_gui = m.group(1), bool(m.group(2))
                if target not in allowed:
                    faults.append(f"{rel}:{n}: {sub} may not include {target} "
                                  f"(below {sub}: {', '.join(sorted(closure(sub))) or 'nothing'}): "
                                  f"{line.strip()}")
                elif target_gui and not is_gui:
                    faults.append(f"{rel}:{n}: logic file includes widget code: {line.strip()}")
            if sub == "db" and ASKS_USER.search(code):
                faults.append(f"{rel}:{n}: the store returns what it found, its caller asks the "
                              f"user: {line.strip()}")
            if is_gui:
                continue
            if WIDGET_INCLUDE.search(line) or QTGUI_INCLUDE.search(line):
                faults.append(f"{rel}:{n}: logic file includes a widget or QtGui header: {line.strip()}")
            for t in sorted(set(m.group(1) for m in QTGUI_TYPES.finditer(code))):
                if t not in QTGUI_ALLOWED.get(rel.as_posix(), set()):
                    faults.append(f"{rel}:{n}: logic file uses the QtGui type {t}: {line.strip()}")


def check_engine(root, faults):
    for base in ("src", "tests", "bench"):
        for path in sorted((root / base).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            rel = path.relative_to(root).as_posix()
            if rel.startswith("src/db/") or rel.startswith("tests/db/"):
                continue
            for n, line in enumerate(path.read_text(encoding="utf-8", errors="replace")
                                     .splitlines(), 1):
                if ENGINE.search(line):
                    faults.append(f"{rel}:{n}: the database engine's types and handles stay in "
                                  f"src/db: {line.strip()}")
                elif base == "src" and not line.lstrip().startswith("//") and reads_as_sql(line):
                    faults.append(f"{rel}:{n}: SQL belongs in src/db: {line.strip()}")


def check_cmake_order(src, faults):
    for sub, deps in ORDER.items():
        cmake = src / sub / "CMakeLists.txt"
        text = cmake.read_text(encoding="utf-8") if cmake.exists() else ""
        m = re.search(r"postwick_library\(\s*pw_%s\b(.*?)\)\s*$" % sub, text, re.S | re.M)
        if not m:
            faults.append(f"src/{sub}/CMakeLists.txt: no postwick_library(pw_{sub} ...)")
            continue
        linked = set(re.findall(r"\bpw_([a-z]+)\b(?!_gui)", m.group(1))) - {sub}
        if linked != set(deps):
            faults.append(f"src/{sub}/CMakeLists.txt links {sorted(linked)} but the order here says "
                          f"{sorted(deps)}: change both together")


def read_graph(path):
    graph = {}
    for line in path.read_text(encoding="utf-8").splitlines():
        if not line.strip():
            continue
        name, links, folder, first, program = (line.split("\t") + [""] * 5)[:5]
        main_source = (pathlib.Path(folder) / first).resolve().as_posix() if first else ""
        graph[name] = {"links": [x for x in links.split(";") if x], "source": main_source,
                       "file": program}
    return graph


def reach(graph, name):
    """Everything a target links, through the targets of the tree."""
    seen, todo = [], list(graph[name]["links"])
    while todo:
        item = todo.pop(0)
        if item in seen:
            continue
        seen.append(item)
        if item in graph:
            todo.extend(graph[item]["links"])
    return seen


def check_links(graph, root, faults):
    logic = {f"pw_{s}": s for s in ORDER}
    programs = set(LOGIC_PROGRAMS)
    for name, t in graph.items():
        if name not in WINDOW_TESTS and t["source"].startswith(
                tuple((root / d).as_posix() + "/" for d in LOGIC_TEST_DIRS)):
            programs.add(name)
    for name in sorted(set(logic) | programs):
        if name not in graph:
            faults.append(f"{name}: not in the link graph")
            continue
        sub = logic.get(name)
        qt_allowed = {"Core"}
        if sub:
            for s in closure(sub) | {sub}:
                qt_allowed |= LOGIC_QT_EXTRA.get(s, set())
        for item in reach(graph, name):
            qt = re.match(r"^Qt6?::(\w+)$", item)
            if item.endswith("_gui") or GUI_QT.match(item):
                faults.append(f"{name} links {item}: logic links no widget code, QtGui or WebEngine")
            elif sub and qt and qt.group(1) not in qt_allowed:
                faults.append(f"{name} links {item}: this logic links only "
                              f"{', '.join('Qt' + m for m in sorted(qt_allowed))} of Qt")
        binary = pathlib.Path(graph[name]["file"]) if graph[name]["file"] else None
        if binary and binary.exists():
            out = subprocess.run(["readelf", "-d", str(binary)], capture_output=True,
                                 text=True, check=True).stdout
            for so in sorted(set(GUI_SONAME.findall(out))):
                faults.append(f"{binary.name} needs libQt6{so}: a logic program loads no GUI module")


# Rows of the self-test: a line planted in src/dbtools of a scratch tree, and whether the check
# must refuse it.
SELF_TEST_ROWS = [
    ("whole statement", 'st.run("select ID from MAILS where ID = 1");', True),
    ("filter condition", 'return QStringLiteral("(%1 containing %2)").arg(c, v);', True),
    ("negated filter", 'QStringLiteral("(NAME not containing \'x\')")', True),
    ("order", 'store.SetOrder(QStringLiteral(" %1 desc").arg(" order by NAME"));', True),
    ("flag assignment", 'store.BulkUpdate(true, " Sending = 1 ", "");', True),
    ("where clause", 'cond = " where Sending <> 0";', True),
    ("column name", 'return QStringLiteral("SENDED");', True),
    ("table name", 'const char* t = "GROUP_MAIL";', True),
    ("field column", 'names << "FIELD12";', True),
    ("user text", 'label->setText("Sending mails, order by date: where to?");', False),
    ("marker line", 'text += "unsaved=1\\n";', False),
    ("placeholder", 'subject = "Your order [[field3]]";', False),
    ("comment", '// the list is read "order by NAME" there', False),
]


def self_test():
    import tempfile
    failed = 0
    for name, code, refused in SELF_TEST_ROWS:
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            for base in ("tests", "bench"):
                (root / base).mkdir()
            (root / "src" / "dbtools").mkdir(parents=True)
            (root / "src" / "dbtools" / "Planted.cpp").write_text(code + "\n", encoding="utf-8")
            faults = []
            check_engine(root, faults)
            if bool(faults) != refused:
                failed += 1
                print(f"FAIL {name}: {'not refused' if refused else 'refused'}: {code}")
            else:
                print(f"PASS {name}")
    return 1 if failed else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    root = pathlib.Path(sys.argv[1]).resolve()
    faults = []
    check_sources(root / "src", faults)
    check_cmake_order(root / "src", faults)
    check_engine(root, faults)
    if len(sys.argv) > 2:
        check_links(read_graph(pathlib.Path(sys.argv[2])), root, faults)
    for f in faults:
        print(f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
