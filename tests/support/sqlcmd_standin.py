#!/usr/bin/env python3
"""sqlcmd -i for the SQL Server stand-in's catalogues: runs T-SQL files in one session, with
SQL Server's session rules, on FOLDER/<NAME>.sqlite.

It exists for the restore files, which support runs by hand: it knows the statements they are
made of and refuses anything else as SQL Server refuses a batch that does not compile (the
batch is skipped, the session goes on). Only forms every version from SQL Server 2000 on
takes are known: no CTE, no VALUES row lists, no CONTEXT_INFO().

What it reproduces, after Microsoft's documentation of sqlcmd and of the statements:
- batches end at a line holding only GO; the files of -i are read as one stream, so a batch
  a file left open runs on into the next file's first lines;
- a batch is compiled whole before any of it runs; one that does not compile is skipped
  (SET XACT_ABORT does not cover compile errors) and variables live for one batch;
- @@TRANCOUNT: BEGIN TRANSACTION nests, COMMIT only commits at the outermost level, ROLLBACK
  rolls everything back; the session's end rolls back what is still open, silently;
- SET XACT_ABORT ON: a run-time error rolls the transaction back and ends the batch; without
  it the statement alone is undone. A missing object or database (208, 911) ends the batch
  and leaves the transaction as it was; RAISERROR never ends anything;
- SET NOEXEC ON: later batches are compiled but not run, except SET NOEXEC OFF; the rest of
  the batch that set it still runs (the harsher reading);
- CONTEXT_INFO: 128 bytes, zeros in a new session, read back from master.dbo.sysprocesses;
- names and texts compare without regard to case or trailing blanks (Latin1_General_CI_AS);
- a statement over 500 UNION ALL terms fails with 8621, as the optimizer may run out of stack;
- local temporary tables (#name) live as long as the session, their rows in its transaction;
  the fixed statements that create them and put the products back (KNOWN) are taught word for
  word, each with its meaning in SQLite; a SELECT's rows are printed as sqlcmd prints them.

Usage: sqlcmd_standin.py FOLDER [-d DATABASE] [-b] -i FILE[,FILE...]
Messages are printed as sqlcmd prints them. The status is 0, or with -b 1 once a batch
raised an error of severity 11 or more (sqlcmd then stops, and the session's end rolls back).
"""

import argparse
import os
import re
import sqlite3
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sqlserver_standin import Catalogue  # noqa: E402  (nchar padding, lengths)

TOKEN = re.compile(r"""
    (?P<space>\s+) | (?P<comment>--[^\n]*)
  | (?P<string>N?'(?:[^']|'')*') | (?P<unclosed>N?')
  | (?P<binary>0x[0-9A-Fa-f]*) | (?P<number>\d+(?:\.\d*)?(?:[eE][+-]?\d+)?)
  | (?P<global>@@\w+) | (?P<variable>@\w+)
  | (?P<bracket>\[(?:[^\]]|\]\])*\]) | (?P<word>[A-Za-z_#][\w$#]*)
  | (?P<op><>|!=|<=|>=|[=(),;.+\-*<>])""", re.X)

MAX_TERMS = 500
SYSTEM_DATABASES = ("master", "tempdb", "model", "msdb")


class CompileError(Exception):
    def __init__(self, number, severity, text, line):
        super().__init__(text)
        self.number, self.severity, self.text, self.line = number, severity, text, line


class BatchEnd(Exception):
    """The batch stops here; its message was said."""


class RunError(Exception):
    """A run-time error; ends_batch for those that end the batch whatever XACT_ABORT says."""

    def __init__(self, number, severity, text, ends_batch=False):
        super().__init__(text)
        self.number, self.severity, self.text, self.ends_batch = number, severity, text, ends_batch


def tokens(text):
    """(kind, text, line) of each token; the files hold no /* */ comments, so neither does this."""
    out, i, line = [], 0, 1
    while i < len(text):
        m = TOKEN.match(text, i)
        if not m:
            raise CompileError(102, 15, "Incorrect syntax near '%s'." % text[i], line)
        kind, value = m.lastgroup, m.group()
        if kind == "unclosed":
            raise CompileError(105, 15, "Unclosed quotation mark after the character string "
                                        "'%s'." % text[m.end():], line)
        if kind not in ("space", "comment"):
            out.append((kind, value, line))
        line += value.count("\n")
        i = m.end()
    return out


# ---- parsing: each statement becomes a tuple (kind, line, ...) ----------------------------

class Parser:
    def __init__(self, text):
        self.toks = tokens(text)
        self.pos = 0
        self.declared = set()

    def peek(self, ahead=0):
        i = self.pos + ahead
        return self.toks[i] if i < len(self.toks) else ("end", "", self.toks[-1][2] if self.toks
                                                          else 1)

    def word(self, ahead=0):
        kind, value, _ = self.peek(ahead)
        return value.upper() if kind == "word" else None

    def fail(self):
        kind, value, line = self.peek()
        if kind == "end":
            raise CompileError(102, 15, "Incorrect syntax near '%s'." % (
                self.toks[-1][1] if self.toks else ""), line)
        if kind == "word" and value.upper() in KEYWORDS:
            raise CompileError(156, 15, "Incorrect syntax near the keyword '%s'." % value, line)
        raise CompileError(102, 15, "Incorrect syntax near '%s'." % value, line)

    def take(self, *words):
        for w in words:
            kind, value, _ = self.peek()
            if (kind == "word" and value.upper() == w) or (kind == "op" and value == w):
                self.pos += 1
            else:
                self.fail()

    def accept(self, *words):
        start = self.pos
        try:
            self.take(*words)
            return True
        except CompileError:
            self.pos = start
            return False

    def kind(self, kind):
        k, value, _ = self.peek()
        if k != kind:
            self.fail()
        self.pos += 1
        return value

    def name(self):
        k, value, _ = self.peek()
        if k == "bracket":
            self.pos += 1
            return value[1:-1].replace("]]", "]")
        if k == "word" and value.upper() not in KEYWORDS:
            self.pos += 1
            return value
        self.fail()

    def variable(self):
        _, value, line = self.peek()
        self.kind("variable")
        if value.lower() not in self.declared:
            raise CompileError(137, 15, 'Must declare the scalar variable "%s".' % value, line)
        return value.lower()

    def batch(self):
        statements = []
        while self.peek()[0] != "end":
            if not self.accept(";"):
                statements.append(self.statement())
        return statements

    def statement(self):
        line = self.peek()[2]
        for shape, sqlite_text in KNOWN:
            here = [(k, v.upper() if k == "word" else v)
                    for k, v, _ in self.toks[self.pos:self.pos + len(shape)]]
            if here == shape:
                self.pos += len(shape)
                return ("known", line, sqlite_text)
        w = self.word()
        if w == "INSERT":
            return self.insert(line)
        if w == "BEGIN" and self.word(1) in ("TRAN", "TRANSACTION"):
            self.pos += 2
            return ("begin", line)
        if w == "BEGIN":
            self.pos += 1
            body = []
            while not self.accept("END"):
                if self.peek()[0] == "end":
                    self.fail()
                if not self.accept(";"):
                    body.append(self.statement())
            if not body:
                self.fail()
            return ("block", line, body)
        if w == "IF":
            self.pos += 1
            condition = self.condition()
            then = self.statement()
            other = self.statement() if self.accept("ELSE") else None
            return ("if", line, condition, then, other)
        if w in ("COMMIT", "ROLLBACK"):
            self.pos += 1
            if self.word() in ("TRAN", "TRANSACTION"):
                self.pos += 1
            return (w.lower(), line)
        if w == "SET":
            self.pos += 1
            option = self.word()
            if option == "CONTEXT_INFO":
                self.pos += 1
                return ("context", line, self.expression())
            if option in ("NOEXEC", "NOCOUNT", "XACT_ABORT") and self.word(1) in ("ON", "OFF"):
                self.pos += 2
                return ("option", line, option, self.toks[self.pos - 1][1].upper() == "ON")
            self.fail()
        if w == "DECLARE":
            self.pos += 1
            _, value, vline = self.peek()
            self.kind("variable")
            if value.lower() in self.declared:
                raise CompileError(134, 15, "The variable name '%s' has already been declared. "
                                            "Variable names must be unique within a query batch "
                                            "or stored procedure." % value, vline)
            self.declared.add(value.lower())
            return ("declare", line, value.lower(), self.type_name())
        if w == "SELECT" and self.peek(1)[0] == "variable":
            # The session's own row of sysprocesses: the one read the files make.
            self.pos += 1
            target = self.variable()
            self.take("=", "SUBSTRING", "(", "CONTEXT_INFO", ",")
            start = int(self.kind("number"))
            self.take(",")
            length = int(self.kind("number"))
            self.take(")", "FROM", "MASTER", ".", "DBO", ".", "SYSPROCESSES", "WHERE", "SPID",
                      "=")
            if self.kind("global").upper() != "@@SPID":
                self.pos -= 1
                self.fail()
            self.take("AND", "ECID", "=")
            if self.kind("number") != "0":
                self.pos -= 1
                self.fail()
            return ("readcontext", line, target, start, length)
        if w == "RAISERROR":
            self.pos += 1
            self.take("(")
            text = self.expression()
            self.take(",")
            severity = int(self.kind("number"))
            self.take(",")
            state = int(self.kind("number"))
            self.take(")")
            return ("raiserror", line, text, severity, state)
        if w == "USE":
            self.pos += 1
            return ("use", line, self.name())
        if w in ("UPDATE", "DELETE"):
            return self.change(w, line)
        self.fail()

    def type_name(self):
        kind = self.word()
        if kind not in ("INT", "VARBINARY", "BINARY", "NVARCHAR", "NCHAR"):
            self.fail()
        self.pos += 1
        size = None
        if kind != "INT":
            self.take("(")
            size = int(self.kind("number"))
            self.take(")")
        return (kind, size)

    # A join of one table with a derived table of literal rows, as the restore files write.
    def change(self, verb, line):
        self.pos += 1
        target = self.name().lower()
        assignments = []
        if verb == "UPDATE":
            self.take("SET")
            while True:
                column = self.name()
                self.take("=")
                assignments.append((column, self.operand()))
                if not self.accept(","):
                    break
        self.take("FROM")
        table = self.name()
        self.accept("AS")
        alias = self.name().lower()
        if alias != target:
            raise CompileError(4104, 16, 'The multi-part identifier "%s" could not be bound.'
                               % target, line)
        self.accept("INNER")
        self.take("JOIN", "(")
        derived = self.derived()
        self.take(")")
        self.accept("AS")
        derived_alias = self.name().lower()
        self.take("ON")
        on = [self.equality()]
        while self.accept("AND"):
            on.append(self.equality())
        for side in [o for pair in on for o in pair] + [a[1] for a in assignments]:
            if side[0] == "column" and side[1] not in (alias, derived_alias):
                raise CompileError(4104, 16, 'The multi-part identifier "%s.%s" could not be '
                                   'bound.' % side[1:], line)
            if side[0] == "column" and side[1] == derived_alias and \
                    side[2].lower() not in [c.lower() for c in derived[0]]:
                raise CompileError(207, 16, "Invalid column name '%s'." % side[2], line)
        return (verb.lower(), line, table, alias, assignments, derived, derived_alias, on)

    # INSERT INTO #table (columns) SELECT columns FROM (rows) alias, as the files gather rows.
    def insert(self, line):
        self.take("INSERT", "INTO")
        table = self.name()
        if not table.startswith("#"):
            self.fail()
        self.take("(")
        columns = [self.name()]
        while self.accept(","):
            columns.append(self.name())
        self.take(")", "SELECT")
        picked = [self.name()]
        while self.accept(","):
            picked.append(self.name())
        self.take("FROM", "(")
        derived = self.derived()
        self.take(")")
        self.accept("AS")
        self.name()
        names = [n.lower() for n in derived[0]]
        for column in picked:
            if column.lower() not in names:
                raise CompileError(207, 16, "Invalid column name '%s'." % column, line)
        if len(picked) != len(columns):
            raise CompileError(120, 15, "The select list for the INSERT statement contains "
                                        "fewer items than the insert list.", line)
        return ("insert", line, table[1:], columns, [names.index(c.lower()) for c in picked],
                derived)

    def derived(self):
        names, rows = [], []
        while True:
            self.take("SELECT")
            row = [self.expression()]
            if not rows:
                names.append(self.alias(len(row)))
            while self.accept(","):
                row.append(self.expression())
                if not rows:
                    names.append(self.alias(len(row)))
            if rows and len(row) != len(names):
                raise CompileError(205, 16, "All queries combined using a UNION, INTERSECT or "
                                            "EXCEPT operator must have an equal number of "
                                            "expressions in their target lists.",
                                   self.peek()[2])
            rows.append(row)
            if not self.accept("UNION", "ALL"):
                return names, rows

    def alias(self, column):
        if not self.accept("AS"):
            raise CompileError(8155, 16, "No column name was specified for column %d of 'v'."
                               % column, self.peek()[2])
        return self.name()

    def equality(self):
        left = self.operand()
        self.take("=")
        return left, self.operand()

    def operand(self):
        if self.peek(1)[1] == ".":
            table = self.name().lower()
            self.take(".")
            return ("column", table, self.name())
        return self.expression()

    # Conditions: OR over AND over comparisons, with SQL's three values.
    def chain(self, separator, item, kind):
        """item, or several joined by separator: (kind, [items])."""
        parts = [item()]
        while self.accept(separator):
            parts.append(item())
        return (kind, parts) if len(parts) > 1 else parts[0]

    def condition(self):
        return self.chain("OR", lambda: self.chain("AND", self.comparison, "and"), "or")

    def comparison(self):
        if self.accept("("):
            inner = self.condition()
            self.take(")")
            return inner
        left = self.expression()
        if self.accept("IS"):
            negated = self.accept("NOT")
            self.take("NULL")
            return ("isnull", left, negated)
        _, op, _ = self.peek()
        if op not in COMPARISONS:
            self.fail()
        self.pos += 1
        return ("compare", op, left, self.expression())

    def expression(self):
        return self.chain("+", self.term, "concat")

    def term(self):
        kind, value, _ = self.peek()
        if kind == "string":
            self.pos += 1
            return ("value", value[value.index("'") + 1:-1].replace("''", "'"))
        if kind == "binary":
            self.pos += 1
            digits = value[2:]
            return ("value", bytes.fromhex(digits if len(digits) % 2 == 0 else "0" + digits))
        if kind == "number" or (value == "-" and self.peek(1)[0] == "number"):
            negative = self.accept("-")
            text = self.kind("number")
            number = float(text) if re.search(r"[.eE]", text) else int(text)
            return ("value", -number if negative else number)
        if kind == "global" and value.upper() in ("@@TRANCOUNT", "@@SPID"):
            self.pos += 1
            return ("global", value.upper())
        if kind == "variable":
            return ("variable", self.variable())
        w = self.word()
        if w == "NULL":
            self.pos += 1
            return ("value", None)
        if w == "DB_NAME":
            self.take("DB_NAME", "(", ")")
            return ("dbname",)
        if w == "NCHAR":
            self.take("NCHAR", "(")
            code = int(self.kind("number"))
            self.take(")")
            return ("value", chr(code))
        if w == "CAST":
            self.take("CAST", "(", "NULL", "AS")
            self.type_name()
            self.take(")")
            return ("value", None)
        self.fail()


COMPARISONS = {"=": lambda a, b: a == b, "<>": lambda a, b: a != b, "!=": lambda a, b: a != b,
               "<": lambda a, b: a < b, ">": lambda a, b: a > b, "<=": lambda a, b: a <= b,
               ">=": lambda a, b: a >= b}

KEYWORDS = {"AND", "AS", "BEGIN", "COMMIT", "DECLARE", "DELETE", "ELSE", "END", "FROM", "IF",
            "INNER", "INSERT", "INTO", "IS", "JOIN", "NOT", "NULL", "ON", "OR", "RAISERROR",
            "ROLLBACK", "SELECT", "SET", "TRAN", "TRANSACTION", "UNION", "UPDATE", "USE", "WHERE"}


# The fixed statements of the files that handle the temporary tables, word for word, with what
# each does in SQLite. SQL Server compares texts without regard to case; here they compare
# exactly (codes are digits).
def _same(a, b):
    return "(%s = %s OR %s IS NULL AND %s IS NULL)" % (a, b, a, b)


_DISTRIBUTOR_AS_LEFT = "(%s OR %s)" % (_same("p.IDDL", "r.d1"), _same("p.IDDL", "r.d0"))
_AS_LEFT = _same("p.CodiceTestata", "r.c1") + " AND " + _DISTRIBUTOR_AS_LEFT
_AS_BEFORE = _same("p.CodiceTestata", "r.c0") + " AND " + _same("p.IDDL", "r.d0")
KNOWN_TEXTS = [
    ("IF OBJECT_ID(N'tempdb..#ripristino_p') IS NOT NULL DROP TABLE #ripristino_p",
     "DROP TABLE IF EXISTS temp.ripristino_p"),
    ("IF OBJECT_ID(N'tempdb..#ripristino_d') IS NOT NULL DROP TABLE #ripristino_d",
     "DROP TABLE IF EXISTS temp.ripristino_d"),
    ("SELECT IDProd + 0 AS p, CodiceTestata AS c0, CodiceTestata AS c1, IDDL AS d0, IDDL AS d1, "
     "CAST(NULL AS int) AS f INTO #ripristino_p FROM Prodotti WHERE 1 = 0",
     "CREATE TEMP TABLE ripristino_p AS SELECT IDProd AS p, CodiceTestata AS c0, CodiceTestata "
     "AS c1, IDDL AS d0, IDDL AS d1, CAST(NULL AS int) AS f FROM main.Prodotti WHERE 0"),
    ("SELECT IDProd + 0 AS p, CodiceTestata AS c1, IDDL AS d0, IDDL AS d1 INTO #ripristino_d "
     "FROM Prodotti WHERE 1 = 0",
     "CREATE TEMP TABLE ripristino_d AS SELECT IDProd AS p, CodiceTestata AS c1, IDDL AS d0, "
     "IDDL AS d1 FROM main.Prodotti WHERE 0"),
    ("CREATE INDEX ripristino_p_p ON #ripristino_p (p)",
     "CREATE INDEX temp.ripristino_p_p ON ripristino_p (p)"),
    ("UPDATE r SET c1 = d.c1, d1 = d.d1 FROM #ripristino_p r JOIN #ripristino_d d ON r.p = d.p",
     "UPDATE temp.ripristino_p AS r SET c1 = d.c1, d1 = d.d1 FROM temp.ripristino_d AS d "
     "WHERE r.p = d.p"),
    ("INSERT INTO #ripristino_p (p, c0, c1, d0, d1) SELECT p, c1, c1, d0, d1 FROM #ripristino_d "
     "d WHERE NOT EXISTS (SELECT * FROM #ripristino_p r WHERE r.p = d.p)",
     "INSERT INTO temp.ripristino_p (p, c0, c1, d0, d1) SELECT p, c1, c1, d0, d1 FROM "
     "temp.ripristino_d AS d WHERE NOT EXISTS (SELECT * FROM temp.ripristino_p AS r "
     "WHERE r.p = d.p)"),
    ("DELETE FROM #ripristino_d", "DELETE FROM temp.ripristino_d"),
    ("UPDATE r SET f = CASE WHEN p.IDProd IS NULL THEN NULL WHEN %s THEN 0 WHEN %s THEN 1 ELSE 2 "
     "END FROM #ripristino_p r LEFT JOIN Prodotti p ON p.IDProd = r.p" % (_AS_BEFORE, _AS_LEFT),
     "UPDATE temp.ripristino_p AS r SET f = (SELECT CASE WHEN %s THEN 0 WHEN %s THEN 1 ELSE 2 "
     "END FROM main.Prodotti AS p WHERE p.IDProd = r.p)" % (_AS_BEFORE, _AS_LEFT)),
    # As files written before 2026-12-08 decide it: "as left" first.
    ("UPDATE r SET f = CASE WHEN p.IDProd IS NULL THEN NULL WHEN %s THEN 1 WHEN %s THEN 0 ELSE 2 "
     "END FROM #ripristino_p r LEFT JOIN Prodotti p ON p.IDProd = r.p" % (_AS_LEFT, _AS_BEFORE),
     "UPDATE temp.ripristino_p AS r SET f = (SELECT CASE WHEN %s THEN 1 WHEN %s THEN 0 ELSE 2 "
     "END FROM main.Prodotti AS p WHERE p.IDProd = r.p)" % (_AS_LEFT, _AS_BEFORE)),
    ("UPDATE p SET CodiceTestata = r.c0, IDDL = r.d0 FROM Prodotti p JOIN #ripristino_p r ON "
     "p.IDProd = r.p WHERE r.f = 1",
     "UPDATE main.Prodotti AS p SET CodiceTestata = r.c0, IDDL = r.d0 FROM temp.ripristino_p "
     "AS r WHERE p.IDProd = r.p AND r.f = 1"),
    ("SELECT r.p AS IDProd, p.CodiceTestata AS CodiceTestata_ora, p.IDDL AS IDDL_ora, CASE WHEN "
     "p.IDProd IS NULL THEN N'non piu'' nel catalogo' WHEN %s THEN N'distributore cambiato dopo "
     "la conversione' WHEN %s THEN N'codice cambiato dopo la conversione' ELSE N'codice e "
     "distributore cambiati dopo la conversione' END AS Lasciato_perche FROM #ripristino_p r "
     "LEFT JOIN Prodotti p ON p.IDProd = r.p WHERE r.f IS NULL OR r.f = 2 ORDER BY r.p"
     % (_same("p.CodiceTestata", "r.c1"), _DISTRIBUTOR_AS_LEFT),
     "SELECT r.p AS IDProd, p.CodiceTestata AS CodiceTestata_ora, p.IDDL AS IDDL_ora, CASE WHEN "
     "p.IDProd IS NULL THEN 'non piu'' nel catalogo' WHEN %s THEN 'distributore cambiato dopo "
     "la conversione' WHEN %s THEN 'codice cambiato dopo la conversione' ELSE 'codice e "
     "distributore cambiati dopo la conversione' END AS Lasciato_perche FROM temp.ripristino_p "
     "AS r LEFT JOIN main.Prodotti AS p ON p.IDProd = r.p WHERE r.f IS NULL OR r.f = 2 ORDER BY "
     "r.p" % (_same("p.CodiceTestata", "r.c1"), _DISTRIBUTOR_AS_LEFT)),
    ("SELECT N'Ripristino: ' + CAST(COALESCE(SUM(CASE WHEN f = 1 THEN 1 ELSE 0 END), 0) AS "
     "nvarchar(10)) + N' prodotti rimessi come erano, ' + CAST(COALESCE(SUM(CASE WHEN f IS NULL OR "
     "f = 2 THEN 1 ELSE 0 END), 0) AS nvarchar(10)) + N' lasciati perche'' cambiati dopo la "
     "conversione.' + CASE WHEN SUM(CASE WHEN f = 0 THEN 1 ELSE 0 END) > 0 THEN N' ' + "
     "CAST(SUM(CASE WHEN f = 0 THEN 1 ELSE 0 END) AS nvarchar(10)) + N' prodotti erano gia'' come "
     "prima della conversione: niente da rimettere.' ELSE N'' END AS Esito FROM #ripristino_p",
     "SELECT 'Ripristino: ' || COALESCE(SUM(CASE WHEN f = 1 THEN 1 ELSE 0 END), 0) || ' prodotti "
     "rimessi come erano, ' || COALESCE(SUM(CASE WHEN f IS NULL OR f = 2 THEN 1 ELSE 0 END), 0) || "
     "' lasciati perche'' cambiati dopo la conversione.' || CASE WHEN SUM(CASE WHEN f = 0 THEN 1 "
     "ELSE 0 END) > 0 THEN ' ' || SUM(CASE WHEN f = 0 THEN 1 ELSE 0 END) || ' prodotti erano "
     "gia'' come prima della conversione: niente da rimettere.' ELSE '' END AS Esito FROM "
     "temp.ripristino_p"),
    # As files written before 2026-12-08 count them: those found as before among those put back.
    ("SELECT N'Ripristino: ' + CAST(COALESCE(SUM(CASE WHEN f = 0 OR f = 1 THEN 1 ELSE 0 END), 0) "
     "AS nvarchar(10)) + N' prodotti rimessi come erano, ' + CAST(COALESCE(SUM(CASE WHEN f IS "
     "NULL OR f = 2 THEN 1 ELSE 0 END), 0) AS nvarchar(10)) + N' lasciati perche'' cambiati dopo "
     "la conversione.' AS Esito FROM #ripristino_p",
     "SELECT 'Ripristino: ' || COALESCE(SUM(CASE WHEN f = 0 OR f = 1 THEN 1 ELSE 0 END), 0) || "
     "' prodotti rimessi come erano, ' || COALESCE(SUM(CASE WHEN f IS NULL OR f = 2 THEN 1 ELSE "
     "0 END), 0) || ' lasciati perche'' cambiati dopo la conversione.' AS Esito FROM "
     "temp.ripristino_p"),
    ("DELETE FROM #ripristino_p WHERE f = 0 OR f = 1",
     "DELETE FROM temp.ripristino_p WHERE f = 0 OR f = 1"),
    # What the program runs before the last, when it applies a file itself.
    ("SELECT p AS Rimesso, c1 AS Codice_prima, c0 AS Codice_ora, f AS Stato FROM #ripristino_p "
     "WHERE f = 0 OR f = 1 ORDER BY p",
     "SELECT p AS Rimesso, c1 AS Codice_prima, c0 AS Codice_ora, f AS Stato FROM "
     "temp.ripristino_p WHERE f = 0 OR f = 1 ORDER BY p"),
]


def _shape(text):
    return [(k, v.upper() if k == "word" else v) for k, v, _ in tokens(text)]


KNOWN = [(_shape(t), sqlite_text) for t, sqlite_text in KNOWN_TEXTS]


# ---- the session --------------------------------------------------------------------------

class Session:
    def __init__(self, folder, database, out):
        self.folder, self.database, self.out = folder, database, out
        self.trancount = 0
        self.noexec = self.xact_abort = self.nocount = False
        self.context = bytes(128)
        self.catalogues = {}
        self.in_transaction = set()
        self.failed = False

    def say(self, number, severity, line, text):
        if severity > 10:
            self.failed = True
            self.out.write("Msg %d, Level %d, State 1, Server STANDIN, Line %d\n"
                           % (number, severity, line))
        self.out.write(text + "\n")

    def run(self, text):
        """Runs one batch; True when it raised an error of severity 11 or more."""
        self.failed = False
        try:
            parser = Parser(text)
            statements = parser.batch()
        except CompileError as e:
            self.say(e.number, e.severity, e.line, e.text)
            return True
        if not statements:
            return False
        if self.noexec:
            for s in statements:
                if s[0] == "option" and s[2] == "NOEXEC" and not s[3]:
                    self.noexec = False
            return self.failed
        variables = {}
        try:
            for s in statements:
                self.execute(s, variables)
        except BatchEnd:
            pass
        return self.failed

    def execute(self, s, variables):
        try:
            self.statement(s, variables)
        except RunError as e:
            self.say(e.number, e.severity, s[1], e.text)
            if e.ends_batch:
                raise BatchEnd()
            if self.xact_abort:
                if self.trancount:
                    self.finish("ROLLBACK")
                raise BatchEnd()

    def statement(self, s, variables):
        kind, line = s[0], s[1]
        if kind == "block":
            for inner in s[2]:
                self.execute(inner, variables)
        elif kind == "if":
            if self.truth(s[2], variables) is True:
                self.execute(s[3], variables)
            elif s[4] is not None:
                self.execute(s[4], variables)
        elif kind == "begin":
            self.trancount += 1
        elif kind == "commit":
            if self.trancount == 0:
                raise RunError(3902, 16, "The COMMIT TRANSACTION request has no corresponding "
                                         "BEGIN TRANSACTION.")
            self.trancount -= 1
            if self.trancount == 0:
                self.finish("COMMIT")
        elif kind == "rollback":
            if self.trancount == 0:
                raise RunError(3903, 16, "The ROLLBACK TRANSACTION request has no corresponding "
                                         "BEGIN TRANSACTION.")
            self.finish("ROLLBACK")
        elif kind == "context":
            value = self.value(s[2], variables)
            if not isinstance(value, bytes):
                raise RunError(257, 16, "Implicit conversion is not allowed; use the CONVERT "
                                        "function to run this query.")
            self.context = (value + bytes(128))[:128]
        elif kind == "option":
            setattr(self, s[2].lower(), s[3])
        elif kind == "declare":
            variables[s[2]] = [s[3], None]
        elif kind == "readcontext":
            value = self.context[s[3] - 1:s[3] - 1 + s[4]]
            size = variables[s[2]][0][1] or len(value)
            variables[s[2]][1] = value[:size]
        elif kind == "raiserror":
            self.say(50000, s[3], line, str(self.value(s[2], variables)))
        elif kind == "use":
            found = self.find(s[2])
            if found is None:
                raise RunError(911, 16, "Database '%s' does not exist. Make sure that the name "
                                        "is entered correctly." % s[2], True)
            self.database = found
        elif kind == "known":
            self.sqlite(s[2], [])
        elif kind == "insert":
            self.insert(s, variables)
        else:
            self.change(s, variables)

    def catalogue(self):
        """The session's connection to the current catalogue; temporary tables live in it."""
        if self.database not in self.catalogues and self.database not in SYSTEM_DATABASES:
            path = os.path.join(self.folder, self.database + ".sqlite")
            self.catalogues[self.database] = Catalogue(path)
        return self.catalogues.get(self.database)

    def sqlite(self, text, params):
        """Runs text in the current catalogue, in the session's transaction; prints rows."""
        catalogue = self.catalogue()
        if catalogue is None:
            raise RunError(208, 16, "Invalid object name 'Prodotti'.", True)
        if self.trancount and self.database not in self.in_transaction:
            catalogue.db.execute("BEGIN")
            self.in_transaction.add(self.database)
        try:
            cursor = catalogue.db.execute(text, params)
        except sqlite3.Error as e:
            if "no such table" in str(e):
                raise RunError(208, 16, "Invalid object name '%s'." % str(e).split(": ")[-1],
                               True)
            if "standin:8152" in str(e):
                raise RunError(8152, 16, "String or binary data would be truncated.")
            if "locked" in str(e) or "busy" in str(e):
                raise RunError(1222, 16, "Lock request time out period exceeded.")
            raise RunError(50000, 16, "SQLite refused: %s" % e)
        if cursor.description:
            self.rows([d[0] for d in cursor.description], cursor.fetchall())
        elif not self.nocount:
            self.out.write("(%d rows affected)\n" % cursor.rowcount)
        return cursor

    def rows(self, names, rows):
        """A SELECT's rows, printed as sqlcmd prints them."""
        self.out.write(" ".join(names) + "\n" + " ".join("-" * len(n) for n in names) + "\n")
        for row in rows:
            self.out.write(" ".join("NULL" if v is None else str(v) for v in row) + "\n")
        self.out.write("\n")

    def insert(self, s, variables):
        _, _, table, columns, picked, (names, rows) = s
        if len(rows) > MAX_TERMS:
            raise RunError(8621, 17, "The query processor ran out of stack space during query "
                                     "optimization. Please simplify the query.")
        params, selects = [], []
        for row in rows:
            params += [self.value(item, variables) for item in row]
            selects.append("SELECT " + ", ".join("? AS c%d" % i for i in range(len(row))))
        self.sqlite('INSERT INTO temp."%s" (%s) SELECT %s FROM (%s)'
                    % (table, ", ".join('"%s"' % c for c in columns),
                       ", ".join("c%d" % i for i in picked),
                       " UNION ALL ".join(selects)), params)

    def finish(self, verb):
        for name in self.in_transaction:
            self.catalogues[name].db.execute(verb)
        self.in_transaction.clear()
        self.trancount = 0

    def close(self):
        if self.trancount:
            self.finish("ROLLBACK")
        for c in self.catalogues.values():
            c.close()

    def find(self, name):
        if name.lower() in SYSTEM_DATABASES:
            return name.lower()
        for f in os.listdir(self.folder):
            if f.endswith(".sqlite") and f[:-7].lower() == name.lower():
                return f[:-7]
        return None

    # Values and truth, with NULL as None and UNKNOWN as None.
    def value(self, e, variables):
        if e[0] == "value":
            return e[1]
        if e[0] == "variable":
            return variables[e[1]][1] if e[1] in variables else None
        if e[0] == "global":
            return self.trancount if e[1] == "@@TRANCOUNT" else 51
        if e[0] == "dbname":
            return self.database
        parts = [self.value(p, variables) for p in e[1]]
        if any(p is None for p in parts):
            return None
        if all(isinstance(p, str) for p in parts):
            # NCHAR takes UTF-16 units: a pair of them is one character.
            return "".join(parts).encode("utf-16-le", "surrogatepass").decode("utf-16-le",
                                                                             "replace")
        raise RunError(402, 16, "The data types are incompatible in the add operator.")

    def truth(self, c, variables):
        if c[0] in ("and", "or"):
            values = [self.truth(p, variables) for p in c[1]]
            decisive = c[0] == "or"
            if decisive in values:
                return decisive
            return None if None in values else not decisive
        if c[0] == "isnull":
            return (self.value(c[1], variables) is None) != c[2]
        left, right = self.value(c[2], variables), self.value(c[3], variables)
        if left is None or right is None:
            return None
        if isinstance(left, str) and isinstance(right, str):
            left, right = left.rstrip(" ").casefold(), right.rstrip(" ").casefold()
        elif type(left) is not type(right) and not {type(left), type(right)} <= {int, float}:
            raise RunError(206, 16, "Operand type clash: %s is incompatible with %s"
                           % (type(left).__name__, type(right).__name__))
        return COMPARISONS[c[1]](left, right)

    # UPDATE and DELETE: the derived table's rows as parameters of a compound SELECT.
    def change(self, s, variables):
        verb, _, table, alias, assignments, (names, rows), valias, on = s
        if self.database not in self.catalogues and self.database not in SYSTEM_DATABASES:
            path = os.path.join(self.folder, self.database + ".sqlite")
            self.catalogues[self.database] = Catalogue(path)
        catalogue = self.catalogues.get(self.database)
        real = catalogue and catalogue.db.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE",
            (table,)).fetchone()
        if not real:
            raise RunError(208, 16, "Invalid object name '%s'." % table, True)
        columns = {r[1].lower() for r in catalogue.db.execute('PRAGMA table_info("%s")'
                                                              % real[0])}
        for side in [o for pair in on for o in pair] + [("column", alias, a[0])
                                                        for a in assignments]:
            if side[0] == "column" and side[1] == alias and side[2].lower() not in columns:
                raise RunError(207, 16, "Invalid column name '%s'." % side[2], True)
        if len(rows) > MAX_TERMS:
            raise RunError(8621, 17, "The query processor ran out of stack space during query "
                                     "optimization. Please simplify the query.")
        def sql(operand, params):
            if operand[0] == "column":
                return '%s."%s"' % ("t" if operand[1] == alias else "v", operand[2])
            params.append(self.value(operand, variables))
            return "?"

        derived_params, selects = [], []
        for row in rows:
            items = []
            for i, item in enumerate(row):
                derived_params.append(self.value(item, variables))
                items.append("?" + (' AS "%s"' % names[i] if row is rows[0] else ""))
            selects.append("SELECT " + ", ".join(items))
        derived = "(" + " UNION ALL ".join(selects) + ") AS v"
        on_params = []
        where = " AND ".join("%s = %s" % (sql(a, on_params), sql(b, on_params)) for a, b in on)
        if verb == "update":
            set_params = []
            settings = ", ".join('"%s" = %s' % (column, sql(rhs, set_params))
                                 for column, rhs in assignments)
            text = 'UPDATE main."%s" AS t SET %s FROM %s WHERE %s' % (real[0], settings, derived,
                                                                       where)
            params = set_params + derived_params + on_params
        else:
            text = 'DELETE FROM main."%s" WHERE rowid IN (SELECT t.rowid FROM main."%s" AS t ' \
                   'JOIN %s ON %s)' % (real[0], real[0], derived, where)
            params = derived_params + on_params
        self.sqlite(text, params)


def batches(lines):
    """The text of each batch: a line holding only GO ends one."""
    text = []
    for line in lines:
        if re.fullmatch(r"\s*go\s*", line, re.I):
            yield "\n".join(text)
            text = []
        else:
            text.append(line)
    if any(t.strip() for t in text):
        yield "\n".join(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("-d", dest="database", default="master")
    parser.add_argument("-b", dest="stop", action="store_true")
    parser.add_argument("-i", dest="inputs", required=True)
    args = parser.parse_args()
    session = Session(args.folder, args.database, sys.stdout)
    if session.find(args.database) is None:
        print("Msg 4060, Level 11, State 1, Server STANDIN, Line 1\nCannot open database "
              "\"%s\" requested by the login. The login failed." % args.database)
        return 1
    session.database = session.find(args.database)
    lines = []
    for path in args.inputs.split(","):
        # sqlcmd reads a file without a byte-order mark in the code page.
        lines += open(path, encoding="cp1252", errors="replace").read().splitlines()
    status = 0
    for text in batches(lines):
        if session.run(text) and args.stop:
            status = 1
            break
    session.close()
    return status


if __name__ == "__main__":
    sys.exit(main())
