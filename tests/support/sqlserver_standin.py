#!/usr/bin/env python3
"""A stand-in for SQL Server that serves SQLite files as catalogues, over TDS 7.4.

It is strict: it answers only the statements it has been taught (the program's own, and
what the ODBC driver sends by itself), each mapped onto SQLite with SQL Server's rules where
the two differ; anything else gets error 102, so no new statement slips by untried.

What it reproduces, at the points the program relies on:
- one session per connection, with its own NOCOUNT, LOCK_TIMEOUT, transaction and prepared
  statements, and an application lock owned by the session, released when it ends;
- DONE tokens that carry no row count while NOCOUNT is on;
- nchar(n) columns padded with blanks, compared ignoring trailing blanks; a value longer
  than an nchar(n) or nvarchar(n) column refused with 8152 followed by 3621;
- an nchar/nvarchar column compared with a number converted to int (245 when it is no
  number);
- transactions through the transaction-manager request, with their ENVCHANGE tokens; a
  lock wait longer than LOCK_TIMEOUT gives 1222 (locks are SQLite's: the whole catalogue);
- sp_prepexec, sp_execute, sp_unprepare, sp_executesql, sp_databases, sp_getapplock.

Usage: sqlserver_standin.py FOLDER [--login USER PASSWORD]... [--trace FILE]
                           [--version 7|2000|2005|2008|2022]
Without --login any login is accepted. --version (default 2022) is the SQL Server to answer
as: its ProductVersion, and the refusal, with that version's number and text, of the syntax
it lacks (2000: OUTPUT, UPDATE/DELETE TOP, sys.* views, CTEs, CONTEXT_INFO(), VALUES row
lists; 2005: VALUES row lists; 7: SERVERPROPERTY too).
Each FOLDER/<NAME>.sqlite is the catalogue NAME (matched without regard to case).
The first line on stdout is {"port": N}. Then each JSON line on stdin is a command, answered
by one JSON line on stdout:
  {"fault": {"match": TEXT, "errors": [2627, 3621], "times": 1}}  the next statements whose
      text contains TEXT fail with those messages ("errors": ["drop"] closes the connection;
      1205 also rolls the transaction back)
  {"clear": true}            forgets the faults and the counts
  {"delay_ms": R}            waits R ms before answering each request (a LAN)
  {"stats": true}            {"requests": N, "kinds": {...}, "statements": {...}}
It ends when stdin closes.
"""

import argparse
import io
import json
import os
import re
import socketserver
import sqlite3
import struct
import sys
import threading
import time

import tds_listener as tds

SQL_BATCH, RPC, ATTENTION, TRANSACTION_MANAGER = 0x01, 0x03, 0x06, 0x0E
COLLATION = b"\x09\x04\xd0\x00\x34"  # Latin1_General_CI_AS
DONE, DONEPROC, DONEINPROC = 0xFD, 0xFE, 0xFF
DONE_MORE, DONE_ERROR, DONE_INXACT, DONE_COUNT, DONE_ATTN = 0x01, 0x02, 0x04, 0x10, 0x20

# The texts SQL Server gives for the messages the stand-in raises.
MESSAGES = {
    102: (15, "Incorrect syntax near '%s'."),
    156: (15, "Incorrect syntax near the keyword '%s'."),
    170: (15, "Line 1: Incorrect syntax near '%s'."),
    195: (15, "'%s' is not a recognized function name."),
    207: (16, "Invalid column name '%s'."),
    208: (16, "Invalid object name '%s'."),
    229: (14, "The %s permission was denied on the object '%s', database '%s', schema 'dbo'."),
    245: (16, "Conversion failed when converting the nvarchar value '%s' to data type int."),
    248: (16, "The conversion of the nvarchar value '%s' overflowed an int column."),
    262: (14, "CREATE TABLE permission denied in database '%s'."),
    515: (16, "Cannot insert the value NULL into column '%s', table '%s'; column does not "
              "allow nulls. INSERT fails."),
    547: (16, "The INSERT statement conflicted with the FOREIGN KEY constraint \"%s\"."),
    1088: (16, "Cannot find the object \"%s\" because it does not exist or you do not have "
                "permissions."),
    1205: (13, "Transaction (Process ID %s) was deadlocked on lock resources with another "
                "process and has been chosen as the deadlock victim. Rerun the transaction."),
    1222: (16, "Lock request time out period exceeded."),
    2601: (14, "Cannot insert duplicate key row in object '%s' with unique index '%s'."),
    2627: (14, "Violation of PRIMARY KEY constraint '%s'. Cannot insert duplicate key in "
                "object '%s'."),
    2812: (16, "Could not find stored procedure '%s'."),
    2628: (16, "String or binary data would be truncated in table '%s', column '%s'."),
    3621: (0, "The statement has been terminated."),
    3902: (16, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."),
    3903: (16, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."),
    4060: (11, "Cannot open database \"%s\" requested by the login. The login failed."),
    8152: (16, "String or binary data would be truncated."),
    18456: (14, "Login failed for user '%s'."),
}


class SqlError(Exception):
    """One failed statement: its messages, as (number, arguments) pairs, most severe first."""

    def __init__(self, *messages, drop=False):
        super().__init__(messages)
        self.messages = list(messages)
        self.drop = drop


def message(number, *args):
    severity, text = MESSAGES.get(number, (16, "Injected error %d." % number))
    if "%s" in text:
        padded = (list(args) + ["?"] * text.count("%s"))[: text.count("%s")]
        text = text % tuple(str(a) for a in padded)
    return number, severity, text


# ---- tokens -------------------------------------------------------------------------------

def us_varchar(text):
    return tds.us_varchar(text)


def b_varchar(text):
    return tds.b_varchar(text)


def env_change(kind, new, old):
    body = bytes([kind]) + new + old
    return b"\xe3" + struct.pack("<H", len(body)) + body


def done(token, status, count=0, command=0xC1):
    return bytes([token]) + struct.pack("<HHQ", status, command, count)


def diagnostic(number, severity, text, state=1):
    body = (struct.pack("<iBB", number, state, severity) + us_varchar(text) +
            b_varchar("STANDIN") + b_varchar("") + struct.pack("<i", 1))
    return (b"\xaa" if severity > 10 else b"\xab") + struct.pack("<H", len(body)) + body


class Column:
    """A result column: its TDS type and how to write a value of it."""

    def __init__(self, name, kind, size=0):
        self.name, self.kind, self.size = name, kind, size

    def metadata(self):
        head = struct.pack("<IH", 0, 0x0001 | 0x0008)  # user type; nullable, read/write
        if self.kind == "int":
            info = b"\x26" + bytes([self.size])
        elif self.kind == "float":
            info = b"\x6d\x08"
        else:
            info = (b"\xef" if self.kind == "nchar" else b"\xe7") + \
                struct.pack("<H", self.size) + COLLATION
        return head + info + b_varchar(self.name)

    def value(self, v):
        if self.kind == "int":
            return b"\x00" if v is None else bytes([self.size]) + \
                v.to_bytes(self.size, "little", signed=True)
        if self.kind == "float":
            return b"\x00" if v is None else b"\x08" + struct.pack("<d", v)
        if v is None:
            return b"\xff\xff"
        data = str(v).encode("utf-16-le")
        return struct.pack("<H", len(data)) + data


def result_set(columns, rows):
    parts = [b"\x81" + struct.pack("<H", len(columns)) + b"".join(c.metadata() for c in columns)]
    for row in rows:
        parts.append(b"\xd1" + b"".join(c.value(v) for c, v in zip(columns, row)))
    return b"".join(parts)


# ---- requests -----------------------------------------------------------------------------

class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return chunk

    def unpack(self, fmt):
        values = struct.unpack_from(fmt, self.data, self.at)
        self.at += struct.calcsize(fmt)
        return values if len(values) > 1 else values[0]

    def skip_all_headers(self):
        total = struct.unpack_from("<I", self.data, self.at)[0]
        self.at += total

    def b_varchar(self):
        n = self.unpack("<B")
        return self.take(2 * n).decode("utf-16-le")

    def done(self):
        return self.at >= len(self.data)


def read_value(r):
    """One RPC parameter's TYPE_INFO and value, as a Python value."""
    kind = r.unpack("<B")
    if kind in (0x26, 0x68, 0x6D):  # INTN, BITN, FLTN
        r.unpack("<B")
        n = r.unpack("<B")
        if n == 0:
            return None
        raw = r.take(n)
        if kind == 0x6D:
            return struct.unpack("<d" if n == 8 else "<f", raw)[0]
        return int.from_bytes(raw, "little", signed=True)
    if kind in (0x38, 0x7F, 0x34, 0x30, 0x32):  # INT4, INT8, INT2, INT1, BIT
        n = {0x38: 4, 0x7F: 8, 0x34: 2, 0x30: 1, 0x32: 1}[kind]
        return int.from_bytes(r.take(n), "little", signed=kind != 0x30)
    if kind in (0xE7, 0xEF, 0xA7, 0xAF):  # NVARCHAR, NCHAR, VARCHAR, CHAR
        size = r.unpack("<H")
        r.take(5)
        wide = kind in (0xE7, 0xEF)
        if size == 0xFFFF:  # (max): chunks
            total = r.unpack("<Q")
            if total == 0xFFFFFFFFFFFFFFFF:
                return None
            raw = b""
            while True:
                n = r.unpack("<I")
                if n == 0:
                    break
                raw += r.take(n)
        else:
            n = r.unpack("<H")
            if n == 0xFFFF:
                return None
            raw = r.take(n)
        return raw.decode("utf-16-le" if wide else "cp1252")
    if kind == 0x63:  # NTEXT
        r.unpack("<I")
        r.take(5)
        n = r.unpack("<I")
        return None if n == 0xFFFFFFFF else r.take(n).decode("utf-16-le")
    raise SqlError(message(102, "type 0x%02X" % kind))


def read_rpc(payload):
    r = Reader(payload)
    r.skip_all_headers()
    length = r.unpack("<H")
    if length == 0xFFFF:
        proc = {2: "sp_cursoropen", 10: "sp_executesql", 11: "sp_prepare", 12: "sp_execute", 13: "sp_prepexec",
                15: "sp_unprepare"}.get(r.unpack("<H"), "?")
    else:
        proc = r.take(2 * length).decode("utf-16-le")
    r.unpack("<H")  # option flags
    params = []
    while not r.done() and r.data[r.at] not in (0x80, 0xFF):
        name = r.b_varchar()
        status = r.unpack("<B")
        params.append((name, status, read_value(r)))
    return proc, params


# ---- the catalogue's rules ----------------------------------------------------------------

def declared(type_name):
    """(kind, length) of a declared SQLite column type as SQL Server would have it."""
    m = re.match(r"\s*(n?)(var)?char\s*\(\s*(\d+)\s*\)", type_name or "", re.I)
    if m:
        return ("nchar" if not m.group(2) else "nvarchar"), int(m.group(3))
    if re.match(r"\s*bigint", type_name or "", re.I):
        return "bigint", 0
    if re.match(r"\s*(int|smallint|tinyint|bit)", type_name or "", re.I):
        return "int", 0
    return None, 0


def as_int(value):
    """SQL Server's conversion of a text to int: blanks around, a sign, digits."""
    if value is None or isinstance(value, int):
        return value
    if isinstance(value, float):
        return int(value)
    text = value.strip(" \t\r\n")
    if text == "":
        return 0
    if not re.fullmatch(r"[+-]?\d+", text):
        raise ValueError("standin:245:" + value)
    number = int(text)
    if not -2**31 <= number < 2**31:
        raise ValueError("standin:248:" + value)
    return number


class Catalogue:
    """A session's connection to one SQLite file, with SQL Server's rules installed."""

    def __init__(self, path):
        self.path = path
        self.db = sqlite3.connect(path, isolation_level=None, check_same_thread=False,
                                  timeout=0)
        # A server keeps a catalogue's pages in memory: without a large cache, reading them
        # again would grow faster than the catalogue and hide the program's own times.
        self.db.execute("PRAGMA cache_size = -131072")
        self.db.create_function("mssql_int", 1, as_int, deterministic=True)
        self.install_rules()

    def install_rules(self):
        """Per-session triggers: blanks pad nchar columns, a value too long is refused."""
        self.types = {}
        tables = [r[0] for r in self.db.execute(
            "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'")]
        for table in tables:
            for _, column, type_name, *_ in self.db.execute("PRAGMA table_info(\"%s\")" % table):
                kind, length = declared(type_name)
                self.types[column.lower()] = (kind, length)
                if kind not in ("nchar", "nvarchar"):
                    continue
                for verb in ("INSERT", "UPDATE OF \"%s\"" % column):
                    tag = "%s_%s_%s" % (table, column, verb.split()[0])
                    self.db.execute(
                        "CREATE TEMP TRIGGER IF NOT EXISTS \"long_%s\" BEFORE %s ON main.\"%s\" "
                        "BEGIN SELECT RAISE(ABORT, 'standin:8152') WHERE length(NEW.\"%s\") > %d;"
                        " END" % (tag, verb, table, column, length))
                    if kind == "nchar":
                        self.db.execute(
                            "CREATE TEMP TRIGGER IF NOT EXISTS \"pad_%s\" AFTER %s ON main.\"%s\" "
                            "BEGIN UPDATE \"%s\" SET \"%s\" = \"%s\" || substr('%s', 1, %d - "
                            "length(\"%s\")) WHERE rowid = NEW.rowid AND length(\"%s\") < %d; END"
                            % (tag, verb, table, table, column, column, " " * length, length,
                               column, column, length))

    def columns(self, description, rows):
        out = []
        for i, d in enumerate(description):
            kind, length = self.types.get(d[0].lower(), (None, 0))
            values = [row[i] for row in rows if row[i] is not None]
            if kind is None:
                if any(isinstance(v, str) for v in values):
                    kind, length = "nvarchar", 4000
                elif any(isinstance(v, float) for v in values):
                    kind = "float"
                else:
                    kind = "int"
            if kind == "bigint" or (kind == "int" and any(not -2**31 <= v < 2**31
                                                          for v in values if isinstance(v, int))):
                out.append(Column(d[0], "int", 8))
            elif kind == "int":
                out.append(Column(d[0], "int", 4))
            elif kind == "float":
                out.append(Column(d[0], "float"))
            else:
                out.append(Column(d[0], kind, 2 * length))
        return out

    def close(self):
        self.db.close()


def engine_error(e, session):
    """SQL Server's messages for what SQLite refused."""
    text = str(e)
    m = re.search(r"standin:(\d+)(?::(.*))?", text, re.S)
    if m:
        number = int(m.group(1))
        if number in (245, 248):
            return SqlError(message(number, m.group(2)))
        return SqlError(message(number), message(3621))
    if "database is locked" in text or "database table is locked" in text:
        return SqlError(message(1222))
    if "UNIQUE constraint failed" in text:
        return SqlError(message(2627, "PK", text.split(":")[-1].strip()), message(3621))
    if "NOT NULL constraint failed" in text:
        return SqlError(message(515, text.split(":")[-1].strip(), ""), message(3621))
    if "FOREIGN KEY" in text:
        return SqlError(message(547, "FK"), message(3621))
    m = re.search(r"no such table: (\S+)", text)
    if m:
        return SqlError(message(208, m.group(1)))
    m = re.search(r"no such column: (\S+)", text)
    if m:
        return SqlError(message(207, m.group(1)))
    return SqlError(message(102, text))


# ---- what each version lacks ---------------------------------------------------------------

# The version each major number answers as: SERVERPROPERTY('ProductVersion').
VERSIONS = {7: "7.00.1063", 8: "8.00.2039", 9: "9.00.5000.00", 10: "10.0.6000.29",
            16: "16.0.1000.6"}
YEARS = {"7": 7, "2000": 8, "2005": 9, "2008": 10, "2022": 16}

# (pattern, the last major version that lacks it, the refusal as (number, argument)).
LACKING = [
    (re.compile(r"\bSERVERPROPERTY\s*\(", re.I), 7, (195, "SERVERPROPERTY")),
    (re.compile(r"\bOUTPUT\s+(?:inserted|deleted)\.", re.I), 8, (170, "OUTPUT")),
    (re.compile(r"\b(?:UPDATE|DELETE)\s+TOP\s*\(", re.I), 8, (170, "(")),
    (re.compile(r"\bsys\.(\w+)", re.I), 8, (208, None)),
    (re.compile(r"(?:^|;|\s)WITH\s+\w+(?:\s*\([^)]*\))?\s+AS\s*\(", re.I), 8, (156, "WITH")),
    (re.compile(r"\bCONTEXT_INFO\s*\(", re.I), 8, (195, "CONTEXT_INFO")),
    (re.compile(r"\bVALUES\s*\([^()]*\)\s*,\s*\(", re.I), 9, (102, ",")),
]


def refusal(text, version):
    """The error the version gives for syntax it lacks in text, or None."""
    for pattern, last, (number, argument) in LACKING:
        m = pattern.search(text)
        if m and version <= last:
            if version == 8 and number == 102:
                number = 170
            return SqlError(message(number, argument or m.group(0)))
    return None


# ---- the statements it has been taught ----------------------------------------------------

def norm(sql):
    return re.sub(r"\s+", " ", sql).strip().rstrip(";").strip()


class Result:
    """What one statement gave: rows (with their description) or a count, and a token kind."""

    def __init__(self, description=None, rows=None, count=None, status=None, tokens=b""):
        self.description, self.rows, self.count = description, rows, count
        self.status, self.tokens = status, tokens


def statements():
    """(pattern over the normalised T-SQL, handler(session, match, values)) pairs."""
    taught = []

    def teach(pattern):
        def register(handler):
            taught.append((re.compile(pattern, re.I | re.S), handler))
            return handler
        return register

    def sqlite(sql):
        """A statement that means the same on SQLite once its @Pn became ?n."""
        def handler(session, m, values):
            return session.sqlite(sql, values)
        return handler

    @teach(r"SET (NOCOUNT|ANSI_NULLS|QUOTED_IDENTIFIER|ANSI_WARNINGS|ANSI_PADDING|"
           r"CONCAT_NULL_YIELDS_NULL|IMPLICIT_TRANSACTIONS|XACT_ABORT) (ON|OFF)")
    def set_option(session, m, values):
        session.options[m.group(1).upper()] = m.group(2).upper() == "ON"
        return []

    @teach(r"SET (LOCK_TIMEOUT|TEXTSIZE) (-?\d+)")
    def set_number(session, m, values):
        session.options[m.group(1).upper()] = int(m.group(2))
        return []

    @teach(r"SELECT CAST\(SERVERPROPERTY\('ProductVersion'\) AS nvarchar\(128\)\) AS v")
    def product_version(session, m, values):
        return [Result([("v",)], [(VERSIONS[session.server.version],)])]

    @teach(r"sp_databases|EXEC sp_databases")
    def databases(session, m, values):
        rows = [(name, 8192, None) for name in session.server.catalogue_names()]
        return [Result([("DATABASE_NAME",), ("DATABASE_SIZE",), ("REMARKS",)], rows,
                       tokens=struct.pack("<Bi", 0x79, 0))]

    @teach(r"DECLARE @r int;? EXEC @r = sp_getapplock @Resource = N'([^']*)', @LockMode = "
           r"'Exclusive', @LockOwner = 'Session', @LockTimeout = 0;? SELECT @r AS Granted")
    def applock(session, m, values):
        granted = session.server.take_applock(m.group(1), session)
        return [Result(status="proc"), Result([("Granted",)], [(0 if granted else -1,)])]

    # The staging table, as the program creates it; nchar columns compare ignoring
    # trailing blanks, as SQL Server's do.
    @teach(r"(?:SET ANSI_NULLS ON )?(?:SET QUOTED_IDENTIFIER ON )?IF NOT EXISTS \(SELECT \* "
           r"FROM dbo\.sysobjects WHERE id = OBJECT_ID\(N'\[dbo\]\.\[CodiciCorvel\]'\) AND "
           r"OBJECTPROPERTY\(id, N'IsUserTable'\) = 1\) CREATE TABLE \[dbo\]\.\[CodiciCorvel\]"
           r"\( \[IdProdMod\] \[int\] NULL, \[CodTestataNuovo\] \[nchar\]\(9\) NULL, "
           r"\[CodTestataVecchio\] \[nchar\]\(9\) NULL, \[Titolo\] \[nchar\]\(50\) NULL, "
           r"\[Modificato\] \[int\] NULL \) ON \[PRIMARY\]")
    def create_staging(session, m, values):
        session.sqlite("CREATE TABLE IF NOT EXISTS CodiciCorvel (IdProdMod int NULL, "
                       "CodTestataNuovo nchar(9) COLLATE RTRIM NULL, "
                       "CodTestataVecchio nchar(9) COLLATE RTRIM NULL, "
                       "Titolo nchar(50) COLLATE RTRIM NULL, Modificato int NULL)", [])
        session.catalogue.install_rules()
        return []

    @teach(r"IF NOT EXISTS \(SELECT \* FROM dbo\.sysindexes WHERE name = N'(\w+)' AND id "
           r"= OBJECT_ID\(N'\[dbo\]\.\[(\w+)\]'\)\) CREATE INDEX \[(\w+)\] ON \[dbo\]\.\[(\w+)\] "
           r"\(\[(\w+)\]\)")
    def create_index(session, m, values):
        return session.sqlite("CREATE INDEX IF NOT EXISTS %s ON %s (%s)"
                              % (m.group(3), m.group(4), m.group(5)), [])

    teach(r"SELECT COUNT\(\*\) AS n FROM dbo\.sysobjects WHERE id = OBJECT_ID\(N'\[dbo\]\."
          r"\[CodiciCorvel\]'\) AND OBJECTPROPERTY\(id, N'IsUserTable'\) = 1")(sqlite(
              "SELECT count(*) AS n FROM sqlite_master WHERE type = 'table' AND "
              "name = 'CodiciCorvel' COLLATE NOCASE"))
    teach(r"SELECT IdProdMod, CodTestataNuovo, CodTestataVecchio, Modificato FROM CodiciCorvel "
          r"ORDER BY CodTestataVecchio")(sqlite(
              "SELECT IdProdMod, CodTestataNuovo, CodTestataVecchio, Modificato FROM CodiciCorvel "
              "ORDER BY CodTestataVecchio"))
    # The batches: several rows of parameters joined by UNION ALL, as SQL Server 2005 takes
    # them; a VALUES list of several rows (SQL Server 2008) is not taught. SQLite gets a
    # VALUES list, which has no limit of 500 terms.
    def rows(text, width, shape):
        numbers = re.findall(r"@P(\d+)", text)
        return ",".join(shape % tuple("?" + n for n in numbers[i:i + width])
                        for i in range(0, len(numbers), width))

    teach(r"INSERT INTO CodiciCorvel (SELECT 0,@P\d+,@P\d+,@P\d+,0"
          r"(?: UNION ALL SELECT 0,@P\d+,@P\d+,@P\d+,0)*)")(
        lambda s, m, v: s.sqlite("INSERT INTO CodiciCorvel VALUES "
                                 + rows(m.group(1), 3, "(0,%s,%s,%s,0)"), v))
    teach(r"UPDATE p SET CodiceTestata = v\.code FROM Prodotti AS p JOIN \((SELECT @P\d+ AS "
          r"id,@P\d+ AS code(?: UNION ALL SELECT @P\d+,@P\d+)*)\) AS v ON p\.IDProd = v\.id")(
        lambda s, m, v: s.sqlite("UPDATE Prodotti SET CodiceTestata = v.column2 FROM (VALUES %s) "
                                 "AS v WHERE Prodotti.IDProd = mssql_int(v.column1)"
                                 % rows(m.group(1), 2, "(%s,%s)"), v))
    def counted(results):
        """An update's count, then SELECT @@ROWCOUNT AS n in the same batch."""
        return results + [Result([("n",)], [(results[-1].count,)])]

    # SQL Server picks one of several matching source rows; SQLite does too.
    teach(r"UPDATE s SET IdProdMod = v\.prod, Modificato = 1 FROM "
          r"CodiciCorvel AS s JOIN \((SELECT @P\d+ AS oldCode,@P\d+ AS newCode,@P\d+ AS prod"
          r"(?: UNION ALL SELECT @P\d+,@P\d+,@P\d+)*)\) AS v ON s\.CodTestataVecchio = "
          r"v\.oldCode AND s\.CodTestataNuovo = v\.newCode WHERE s\.Modificato = 0 "
          r"SELECT @@ROWCOUNT AS n")(
        lambda s, m, v: counted(s.sqlite(
            "UPDATE CodiciCorvel SET IdProdMod = mssql_int(v.column3), "
            "Modificato = 1 FROM (VALUES %s) AS v WHERE "
            "CodiciCorvel.CodTestataVecchio = v.column1 AND "
            "CodiciCorvel.CodTestataNuovo = v.column2 AND "
            "CodiciCorvel.Modificato = 0" % rows(m.group(1), 3, "(%s,%s,%s)"), v)))
    teach(r"SELECT IDProd, CodiceTestata, Testata, IDDL from Prodotti where inforiv=1 and "
          r"IDDL= @P1 ORDER BY CodiceTestata, IDProd")(sqlite(
              "SELECT IDProd, CodiceTestata, Testata, IDDL FROM Prodotti WHERE inforiv=1 "
              "AND IDDL=mssql_int(?1) ORDER BY CodiceTestata COLLATE NOCASE, IDProd"))
    teach(r"UPDATE Prodotti SET CodiceTestata=@P1 WHERE IDProd=@P2")(sqlite(
        "UPDATE Prodotti SET CodiceTestata=?1 WHERE IDProd=mssql_int(?2)"))
    # One row of twins: UPDATE TOP (1), or on 2000 a row limit set back in the same batch.
    teach(r"(?:UPDATE TOP \(1\) CodiciCorvel SET IdProdMod=@P1, Modificato=1 WHERE "
          r"CodTestataVecchio=@P2 AND CodTestataNuovo=@P3 AND Modificato=0 SELECT @@ROWCOUNT AS n|"
          r"DECLARE @n int SET ROWCOUNT 1 UPDATE CodiciCorvel SET IdProdMod=@P1, Modificato=1 "
          r"WHERE CodTestataVecchio=@P2 AND CodTestataNuovo=@P3 AND Modificato=0 SELECT @n = "
          r"@@ROWCOUNT SET ROWCOUNT 0 SELECT @n AS n)")(
        lambda s, m, v: counted(s.sqlite(
            "UPDATE CodiciCorvel SET IdProdMod=mssql_int(?1), Modificato=1 WHERE rowid = "
            "(SELECT rowid FROM CodiciCorvel WHERE CodTestataVecchio=?2 AND CodTestataNuovo=?3"
            " AND Modificato=0 LIMIT 1)", v)))
    teach(r"SELECT IDProd, IDDL, CodiceTestata FROM Prodotti WHERE IDProd IN \(SELECT "
          r"IdProdMod FROM CodiciCorvel WHERE IdProdMod<>0\)( AND \(IDDL IS NULL OR IDDL<>@P1 OR "
          r"inforiv IS NULL OR inforiv<>1\))?")(
        lambda s, m, v: s.sqlite(
            "SELECT IDProd, IDDL, CodiceTestata FROM Prodotti WHERE IDProd IN (SELECT IdProdMod "
            "FROM CodiciCorvel WHERE IdProdMod<>0)" + (
                " AND (IDDL IS NULL OR IDDL<>mssql_int(?1) OR inforiv IS NULL OR inforiv<>1)"
                if m.group(1) else ""), v))
    teach(r"UPDATE Prodotti SET IDDL=@P1 WHERE IDProd IN \(SELECT IdProdMod FROM CodiciCorvel "
          r"WHERE IdProdMod<>0\)")(sqlite(
              "UPDATE Prodotti SET IDDL=mssql_int(?1) WHERE IDProd IN (SELECT IdProdMod FROM "
              "CodiciCorvel WHERE IdProdMod<>0)"))
    teach(r"UPDATE prodotti SET IDDL=@P1 WHERE idprod=@P2")(sqlite(
        "UPDATE Prodotti SET IDDL=mssql_int(?1) WHERE IDProd=mssql_int(?2)"))
    teach(r"SELECT IDSoggetto, IDTipoSoggetto, CodiceFIEG from Soggetti WHERE\(IDTipoSoggetto "
          r"= 'DL'\) AND \(CodiceFIEG LIKE @P1\)")(sqlite(
              "SELECT IDSoggetto, IDTipoSoggetto, CodiceFIEG FROM Soggetti WHERE "
              "(IDTipoSoggetto = 'DL' COLLATE NOCASE) AND (CodiceFIEG LIKE ?1)"))
    # An nchar or nvarchar column against an int: SQL Server converts the column.
    teach(r"SELECT \* From Prodotti WHERE Codicetestata = @P1")(sqlite(
        "SELECT * FROM Prodotti WHERE mssql_int(CodiceTestata) = ?1"))
    teach(r"SELECT \* from Prodotti where inforiv=1")(sqlite(
        "SELECT * FROM Prodotti WHERE inforiv=1"))
    # A restore file's batches, as the program sends them when it applies one itself: they
    # run under the session rules of sqlcmd_standin.py, which knows every statement they are
    # made of and refuses any other.
    @teach(r"(?=.*(?:#ripristino|CONTEXT_INFO|sysprocesses|NOEXEC|@@TRANCOUNT))(?:DECLARE|IF|"
           r"SET|SELECT|INSERT|UPDATE|DELETE) .*|USE \[.*\]")
    def restore_batch(session, m, values):
        return session.restore_batch(m.group(0))

    # The tests' own look at one product.
    teach(r"SELECT (\w+) FROM Prodotti WHERE IDProd = (\d+)")(
        lambda s, m, v: s.sqlite("SELECT %s FROM Prodotti WHERE IDProd = %s"
                                 % (m.group(1), m.group(2)), []))
    teach(r"UPDATE Prodotti SET Testata = @P1 WHERE IDProd = @P2")(sqlite(
        "UPDATE Prodotti SET Testata = ?1 WHERE IDProd = mssql_int(?2)"))
    return taught


TAUGHT = statements()
SET_OPTION = re.compile(r"(SET (?:NOCOUNT|ANSI_NULLS|QUOTED_IDENTIFIER|ANSI_WARNINGS|ANSI_PADDING|"
                        r"CONCAT_NULL_YIELDS_NULL|IMPLICIT_TRANSACTIONS|XACT_ABORT) (?:ON|OFF)|"
                        r"SET (?:LOCK_TIMEOUT|TEXTSIZE) -?\d+)\s*;?\s*(.*)$", re.I | re.S)


class Session(socketserver.BaseRequestHandler):
    def setup(self):
        self.options = {"NOCOUNT": False, "LOCK_TIMEOUT": -1}
        self.catalogue = None
        self.transaction = None  # the descriptor while one is open
        self.prepared = {}
        self.next_handle = 1
        self.spid = 51 + self.server.session_number()
        self.restore = None  # the session restore batches run in, from the first one on

    def finish(self):
        if self.restore is not None:
            self.restore.close()
        self.server.release_applocks(self)
        if self.catalogue:
            if self.transaction is not None:
                self.catalogue.db.execute("ROLLBACK")
            self.catalogue.close()

    def handle(self):
        sock = self.request
        size = 4096
        while True:
            kind, payload = tds.read_packet(sock)
            if kind is None:
                return
            if kind == tds.PRELOGIN:
                tds.send_packet(sock, tds.REPLY, tds.prelogin_reply())
                continue
            if kind == tds.LOGIN7:
                size = struct.unpack_from("<I", payload, 8)[0] or 4096
                reply = self.login(tds.decode_login7(payload))
                self.send(reply, size)
                if self.catalogue is None and not self.master:
                    return
                continue
            self.server.count(kind)
            if self.server.delay:
                time.sleep(self.server.delay)
            try:
                if kind == SQL_BATCH:
                    r = Reader(payload)
                    r.skip_all_headers()
                    reply = self.batch(r.data[r.at:].decode("utf-16-le"))
                elif kind == RPC:
                    reply = self.rpc(*read_rpc(payload))
                elif kind == TRANSACTION_MANAGER:
                    reply = self.transaction_request(payload)
                elif kind == ATTENTION:
                    reply = done(DONE, DONE_ATTN)
                else:
                    return
            except SqlError as e:
                if e.drop:
                    return
                reply = self.failure(e, DONE)
            self.send(reply, size)

    def send(self, payload, size):
        step = size - 8
        chunks = [payload[i:i + step] for i in range(0, len(payload), step)] or [b""]
        for i, chunk in enumerate(chunks):
            status = 0x01 if i == len(chunks) - 1 else 0x00
            self.request.sendall(struct.pack(">BBHHBB", tds.REPLY, status, len(chunk) + 8,
                                             self.spid, 1, 0) + chunk)

    # -- login --

    def login(self, login):
        self.master = False
        self.server.trace({"login": login["user"], "database": login["database"]})
        if not self.server.accepts(login["user"], login["password"]):
            return (diagnostic(*message(18456, login["user"])) +
                    done(DONE, DONE_ERROR))
        database = login["database"] or "master"
        if database.lower() == "master":
            self.master = True
        else:
            path = self.server.catalogue_path(database)
            if path is None:
                return (diagnostic(*message(4060, database)) +
                        diagnostic(*message(18456, login["user"])) + done(DONE, DONE_ERROR))
            self.catalogue = Catalogue(path)
        self.database = database
        ack = (b"\x01" + bytes([0x74, 0x00, 0x00, 0x04]) + b_varchar("Microsoft SQL Server") +
               bytes([15, 0, 0x07, 0xD0]))
        return (env_change(1, b_varchar(database), b_varchar("master")) +
                env_change(7, bytes([5]) + COLLATION, b"\x00") +
                env_change(2, b_varchar("us_english"), b_varchar("")) +
                b"\xad" + struct.pack("<H", len(ack)) + ack +
                env_change(4, b_varchar("4096"), b_varchar("4096")) +
                done(DONE, 0))

    # -- what runs statements --

    def statement(self, sql, values):
        """The results of one request's text: leading SET options, then one taught statement
        (a whole batch of the program's counts as one)."""
        text = norm(sql)
        self.server.trace({"sql": text, "values": [repr(v) for v in values]})
        self.server.count_statement(text)
        fault = self.server.fault_for(text)
        if fault is not None:
            if fault == ["drop"]:
                raise SqlError(drop=True)
            if 1205 in fault and self.transaction is not None:
                self.rollback_for_deadlock = True
            raise SqlError(*[message(n, self.spid) for n in fault])
        refused = refusal(text, self.server.version)
        if refused is not None:
            raise refused
        while True:
            m = SET_OPTION.match(text)
            if not m:
                break
            self.dispatch(m.group(1), values)
            text = m.group(2)
        return self.dispatch(text, values) if text else []

    def dispatch(self, text, values):
        for pattern, handler in TAUGHT:
            m = pattern.fullmatch(text)
            if m:
                return handler(self, m, values)
        raise SqlError(message(102, text[:30]))

    def restore_batch(self, text):
        if self.restore is None:
            import sqlcmd_standin  # it imports this module: not at the top

            class Restore(sqlcmd_standin.Session):
                """Keeps rows and errors for the client instead of printing them."""

                def say(self, number, severity, line, text):
                    if severity > 10:
                        self.errors.append((number, severity, text))
                    super().say(number, severity, line, text)

                def rows(self, names, rows):
                    self.results.append(([(n,) for n in names], rows))

            self.restore = Restore(self.server.folder, self.database, io.StringIO())
            self.restore.database = self.restore.find(self.database)
        self.restore.results, self.restore.errors = [], []
        self.restore.run(text)
        if self.restore.errors:
            raise SqlError(*self.restore.errors)
        return [Result(d, rows) for d, rows in self.restore.results]

    def sqlite(self, sql, values):
        if self.catalogue is None:
            raise SqlError(message(208, sql.split()[-1]))
        db = self.catalogue.db
        timeout = self.options["LOCK_TIMEOUT"]
        db.execute("PRAGMA busy_timeout = %d" % (2**31 - 1 if timeout < 0 else timeout))
        try:
            cursor = db.execute(sql, values)
            rows = cursor.fetchall()
        except sqlite3.Error as e:
            raise engine_error(e, self)
        if cursor.description is not None:
            return [Result(cursor.description, rows)]
        return [Result(count=max(cursor.rowcount, 0))]

    def results_tokens(self, results, token):
        """Each statement's tokens, and its DONE token (the last one final)."""
        out = b""
        xact = DONE_INXACT if self.transaction is not None else 0
        nocount = self.options["NOCOUNT"]
        for i, r in enumerate(results):
            # Inside a procedure call the DONEPROC that ends it always follows.
            more = DONE_MORE if i < len(results) - 1 or token == DONEINPROC else 0
            out += r.tokens
            if r.status == "proc":
                out += done(DONEPROC, more | xact)
                continue
            if r.description is not None:
                out += result_set(self.columns(r.description, r.rows), r.rows)
                count = len(r.rows)
            else:
                count = r.count
            counted = not nocount and count is not None
            out += done(token, more | xact | (DONE_COUNT if counted else 0),
                        count if counted else 0)
        return out

    def columns(self, description, rows):
        if self.catalogue:
            return self.catalogue.columns(description, rows)
        texts = [any(isinstance(row[j], str) for row in rows) for j in range(len(description))]
        return [Column(d[0], "nvarchar", 256) if texts[j] else Column(d[0], "int", 4)
                for j, d in enumerate(description)]

    def batch(self, sql):
        self.rollback_for_deadlock = False
        try:
            results = self.statement(sql, [])
        except SqlError as e:
            if e.drop:
                raise
            return self.failure(e, DONE)
        xact = DONE_INXACT if self.transaction is not None else 0
        if not results:
            return done(DONE, xact)
        out = self.results_tokens(results, DONE)
        if results[-1].status == "proc":
            out += done(DONE, xact)
        return out

    def failure(self, e, token):
        out = b""
        if getattr(self, "rollback_for_deadlock", False) and self.transaction is not None:
            self.catalogue.db.execute("ROLLBACK")
            out += env_change(10, b"\x00", bytes([8]) + self.transaction)
            self.transaction = None
        for number, severity, text in e.messages:
            out += diagnostic(number, severity, text)
        xact = DONE_INXACT if self.transaction is not None else 0
        # Inside a procedure call its return status and DONEPROC follow: without MORE the
        # client would take them for the next request's reply.
        more = DONE_MORE if token == DONEINPROC else 0
        return out + done(token, DONE_ERROR | more | xact)

    def rpc(self, proc, params):
        values = [p[2] for p in params]
        handle_out = None
        if proc == "sp_prepexec":
            handle = self.next_handle
            self.next_handle += 1
            self.prepared[handle] = values[2]
            sql, binds, handle_out = values[2], values[3:], handle
        elif proc == "sp_prepare":
            handle = self.next_handle
            self.next_handle += 1
            self.prepared[handle] = values[2]
            sql, binds, handle_out = None, [], handle
        elif proc == "sp_execute":
            if values[0] not in self.prepared:
                raise SqlError(message(8179, values[0]))
            sql, binds = self.prepared[values[0]], values[1:]
        elif proc == "sp_unprepare":
            self.prepared.pop(values[0], None)
            sql, binds = None, []
        elif proc == "sp_executesql":
            sql, binds = values[0], values[2:]
        elif proc == "sp_cursoropen" and SET_OPTION.fullmatch(norm(values[1]) + " "):
            # A statement that makes no rows opens no cursor: it just runs.
            self.statement(values[1], [])
            out = struct.pack("<Bi", 0x79, 0)
            for ordinal, (name, status, value) in enumerate(params):
                if status & 0x01:
                    out += (b"\xac" + struct.pack("<H", ordinal) + b_varchar(name) + b"\x01" +
                            struct.pack("<IH", 0, 0x0001) + b"\x26\x04\x04" +
                            struct.pack("<i", 0 if ordinal != 4 else -1))
            return out + done(DONEPROC, 0)
        else:
            raise SqlError(message(2812, proc))
        self.server.trace({"rpc": proc})
        self.rollback_for_deadlock = False
        out = b""
        status = 0
        if sql is not None:
            try:
                out = self.results_tokens(self.statement(sql, binds), DONEINPROC)
            except SqlError as e:
                if e.drop:
                    raise
                out = self.failure(e, DONEINPROC)
                status = DONE_ERROR
        out += struct.pack("<Bi", 0x79, 0)
        if handle_out is not None:
            ret = (struct.pack("<H", 0) + b_varchar(params[0][0]) + b"\x01" +
                   struct.pack("<IH", 0, 0x0001) + b"\x26\x04" + b"\x04" +
                   struct.pack("<i", handle_out))
            out += b"\xac" + ret
        xact = DONE_INXACT if self.transaction is not None else 0
        return out + done(DONEPROC, status | xact)

    def transaction_request(self, payload):
        r = Reader(payload)
        r.skip_all_headers()
        request = r.unpack("<H")
        out = b""
        self.server.trace({"tm": request})
        if request == 5:  # begin
            out += self.begin()
        elif request in (7, 8):  # commit, rollback
            r.b_varchar()
            flags = r.unpack("<B") if not r.done() else 0
            if self.transaction is None:
                raise SqlError(message(3902 if request == 7 else 3903))
            try:
                self.catalogue.db.execute("COMMIT" if request == 7 else "ROLLBACK")
            except sqlite3.Error as e:
                raise engine_error(e, self)
            out += env_change(9 if request == 7 else 10, b"\x00",
                              bytes([8]) + self.transaction)
            self.transaction = None
            if flags & 0x01:
                out += self.begin()
        else:
            raise SqlError(message(102, "transaction request %d" % request))
        xact = DONE_INXACT if self.transaction is not None else 0
        return out + done(DONE, xact)

    def begin(self):
        if self.catalogue is None:
            raise SqlError(message(102, "BEGIN"))
        self.catalogue.db.execute("BEGIN")
        self.transaction = struct.pack("<Q", self.server.next_transaction())
        return env_change(8, bytes([8]) + self.transaction, b"\x00")


class StandIn(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, folder, logins, trace, version=16):
        super().__init__(("127.0.0.1", 0), Session)
        self.version = version
        self.folder, self.logins = folder, logins
        self.trace_file = open(trace, "a", encoding="utf-8") if trace else None
        self.lock = threading.Lock()
        self.applocks = {}
        self.faults = []
        self.delay = 0
        self.sessions = 0
        self.transactions = 0
        self.requests = 0
        self.kinds = {}
        self.statements = {}

    def session_number(self):
        with self.lock:
            self.sessions += 1
            return self.sessions

    def next_transaction(self):
        with self.lock:
            self.transactions += 1
            return self.transactions

    def accepts(self, user, password):
        return not self.logins or [user, password] in self.logins

    def catalogue_names(self):
        names = ["master", "tempdb", "model", "msdb"]
        names += sorted((f[:-7] for f in os.listdir(self.folder) if f.endswith(".sqlite")),
                        key=str.lower)
        return names

    def catalogue_path(self, name):
        for f in os.listdir(self.folder):
            if f.endswith(".sqlite") and f[:-7].lower() == name.lower():
                return os.path.join(self.folder, f)
        return None

    def take_applock(self, resource, session):
        with self.lock:
            key = (session.database.lower(), resource)
            owner = self.applocks.get(key)
            if owner is not None and owner is not session:
                return False
            self.applocks[key] = session
            return True

    def release_applocks(self, session):
        with self.lock:
            for key in [k for k, owner in self.applocks.items() if owner is session]:
                del self.applocks[key]

    def fault_for(self, text):
        with self.lock:
            for fault in self.faults:
                if fault["match"].lower() in text.lower() and fault.get("times", 1) != 0:
                    fault["times"] = fault.get("times", 1) - 1
                    return fault["errors"]
        return None

    def count(self, kind):
        with self.lock:
            self.requests += 1
            name = {SQL_BATCH: "batch", RPC: "rpc", TRANSACTION_MANAGER: "transaction",
                    ATTENTION: "attention"}.get(kind, str(kind))
            self.kinds[name] = self.kinds.get(name, 0) + 1

    def count_statement(self, text):
        with self.lock:
            key = text[:60]
            self.statements[key] = self.statements.get(key, 0) + 1

    def trace(self, record):
        if self.trace_file:
            with self.lock:
                self.trace_file.write(json.dumps(record) + "\n")
                self.trace_file.flush()

    def command(self, line):
        request = json.loads(line)
        self.trace({"command": request})
        with self.lock:
            if "fault" in request:
                self.faults.append(dict(request["fault"]))
            if request.get("clear"):
                self.faults, self.requests, self.kinds, self.statements = [], 0, {}, {}
            if "delay_ms" in request:
                self.delay = float(request["delay_ms"]) / 1000.0
            return {"id": request.get("id"), "requests": self.requests,
                    "kinds": dict(self.kinds), "statements": dict(self.statements)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--login", nargs=2, action="append", default=[])
    parser.add_argument("--trace")
    # The SQL Server to answer as: what it lacks is refused as that version refuses it.
    parser.add_argument("--version", choices=sorted(YEARS), default="2022")
    args = parser.parse_args()
    server = StandIn(args.folder, args.login, args.trace, YEARS[args.version])
    print(json.dumps({"port": server.server_address[1]}), flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    for line in sys.stdin:
        if line.strip():
            print(json.dumps(server.command(line)), flush=True)


if __name__ == "__main__":
    main()
