#!/usr/bin/python3
"""The reference for the CSV import benchmark: the same file read with Python's csv module and
stored in a new sqlite3 database, one table of ID, SENDED, SENDING and 20 text fields, in one
transaction with one prepared insert (executemany).

  python_import.py CSV_FILE DATABASE_FILE

Prints "python_rows: N", "python_ms: wall" and "python_cpu_ms: cpu" (from opening the file to
the commit, the interpreter's start left out).
"""
import csv
import sqlite3
import sys
import time


def main():
    path, database = sys.argv[1], sys.argv[2]
    con = sqlite3.connect(database)
    fields = ", ".join("FIELD%d VARCHAR(100)" % k for k in range(1, 21))
    con.execute("create table MAILS (ID integer primary key, SENDED integer, SENDING integer, "
                + fields + ")")
    con.commit()
    wall0, cpu0 = time.perf_counter(), time.process_time()
    with open(path, newline="", encoding="utf-8") as f:
        rows = [[i + 1, 0, 1] + (row + [""] * 20)[:20] for i, row in enumerate(csv.reader(f))]
    with con:
        con.executemany("insert into MAILS values (" + ", ".join("?" * 23) + ")", rows)
    wall, cpu = time.perf_counter() - wall0, time.process_time() - cpu0
    con.close()
    print("python_rows: %d" % len(rows))
    print("python_ms: %.1f" % (wall * 1000))
    print("python_cpu_ms: %.1f" % (cpu * 1000))


if __name__ == "__main__":
    main()
