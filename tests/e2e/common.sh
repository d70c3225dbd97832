# Shared by the end-to-end scripts: a program folder laid out as on the kiosk, the real
# executable started under Xvfb, and an operator's clicks and reading of message boxes.
# Sourced; expects BUILD_DIR.

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$E2E_DIR/../../scripts/lib/x11.sh"

# A Windows build runs under Wine, set up by scripts/test-windows (WINE and its prefix).
# With E2E_PACKAGE naming an unpacked Windows package, every program folder is a copy of
# it, and BUILD_DIR only holds the runs' folders and screenshots.
TOOL_FILE=ConvertiCodiceTestata
TOOL_RUNNER=()
# Runs the program as another user when set (setpriv ...); faketime comes after it.
TOOL_AS=()
host_path() { echo "$1"; }
if [[ -f "${E2E_PACKAGE:-$BUILD_DIR}/ConvertiCodiceTestata.exe" ]]; then
    source "$E2E_DIR/../../scripts/lib/wine.sh"
    TOOL_FILE=ConvertiCodiceTestata.exe
    host_path() { winpath "$1"; }
    # File times stay true: Wine compares one with its prefix's stamp and, seeing a faked
    # one, would rebuild the prefix before starting the program.
    TOOL_RUNNER=(env NO_FAKE_STAT=1 "${WINE:?Wine is not set up}")
    # Wine hands no text selection to X; a Windows message box copies itself with Ctrl+C as
    # title, text and buttons between dashed lines, and Wine passes that to the clipboard.
    box_text() {
        local id=$1 text
        xclip -selection clipboard </dev/null >/dev/null 2>&1 &
        local holder=$!
        sleep 0.1
        xdotool windowfocus --sync "$id" 2>/dev/null || true
        xdotool key --clearmodifiers ctrl+c
        sleep 0.3
        text=$(xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | awk '/^-+$/ { n++; next } n == 2')
        kill "$holder" 2>/dev/null || true
        wait "$holder" 2>/dev/null || true
        [[ -n "$text" ]] && printf '%s\n' "$text"
    }
    box_whole_text() { box_text "$@"; }
fi

MAIN_TITLE='^Conversione Codice Titolo Prodotto  1\.0\.15$'
# Window-relative pixel centres of the controls (twips / 15, Command2 inside Frame4).
CBO_AZIENDE=(156 100)
COMMAND1=(280 272)
COMMAND2=(492 220)
ANTEPRIMA=(380 221)
RIPRISTINA=(268 221)
CMD_USCITA=(472 464)

# box_whole_text ID: prints a message box's whole text, where box_text gives only its first
# line: a triple click selects the first line, and a drag with Shift held from there to past
# the box's corner extends the selection line by line to the last.
if ! declare -F box_whole_text >/dev/null; then
    box_whole_text() {
        local id=$1 first text
        first=$(box_text "$id") || return 1
        eval "$(xdotool getwindowgeometry --shell "$id")"
        # box_text left the pointer on the first line; a press sooner would count as a
        # fourth click.
        sleep 0.6
        xclip -selection primary -loops 1 -quiet </dev/null >/dev/null 2>&1 &
        local clearer=$!
        sleep 0.05
        xdotool keydown shift mousedown 1 mousemove --window "$id" $((WIDTH + 40)) $((HEIGHT + 40)) \
            mouseup 1 keyup shift
        sleep 0.2
        text=$(xclip -o -selection primary 2>/dev/null) || text=
        kill "$clearer" 2>/dev/null || true
        wait "$clearer" 2>/dev/null || true
        [[ "$text" == "$first"* ]] || return 1
        printf '%s\n' "$text"
    }
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Runs the calling script again inside its own X server, once. Each script passes its own
# first display number so that parallel tests do not race for one. The server outlives its
# clients (-noreset): a program killed and started again must find it still accepting.
run_under_xvfb() {
    local first=$1
    shift
    if [[ -z "${E2E_IN_XVFB:-}" ]]; then
        unset QT_QPA_PLATFORM
        exec env E2E_IN_XVFB=1 xvfb-run -a -n "$first" -s "-screen 0 1024x768x24 -noreset" "$@"
    fi
    unset QT_QPA_PLATFORM
    wait_display 20 || fail "the X server on $DISPLAY does not answer"
}

# make_program_folder DIR: the executable (or the package), and a host configuration whose server is the
# folder DIR/db of embedded catalogues.
make_program_folder() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir/db"
    if [[ -n "${E2E_PACKAGE:-}" ]]; then
        cp -R "$E2E_PACKAGE/." "$dir/"
    else
        cp "$BUILD_DIR/$TOOL_FILE" "$dir/"
    fi
    cat >"$dir/Mirkel.XML" <<XML
<?xml version="1.0" encoding="ISO-8859-1"?>
<Mirkel debug="0" terminal="CASSA1" inforivMaster="1" toolbarShow="1" dataBaseName="MIRKEL2012">
  <barcodeScannerCom port="COM1" settings="9600,n,8,1"/>
  <DBServerName>sqlite:$(host_path "$dir/db")</DBServerName>
  <DBAdminUsername>sa</DBAdminUsername>
  <DBAdminPassword>e2e-admin</DBAdminPassword>
  <DBUsername>mirkel</DBUsername>
  <DBPassword>e2e-user</DBPassword>
</Mirkel>
XML
}

# serve_catalogues DIR [VERSION [TRACE]]: the SQL Server stand-in serves DIR/db, accepting the
# logins of DIR/Mirkel.XML, and the configuration names it as its server. It answers as SQL
# Server VERSION (2000, 2005, ...; the newest by default), and writes each login, statement
# and transaction request it receives to the file TRACE as a JSON line. It ends with the script.
serve_catalogues() {
    local dir=$1 version=${2:-2022} trace=${3:-}
    sleep 100000 | python3 "$E2E_DIR/../support/sqlserver_standin.py" "$dir/db" --version "$version" \
        --login sa e2e-admin --login mirkel e2e-user ${trace:+--trace "$trace"} \
        >"$dir/standin.out" 2>"$dir/standin.err" &
    STANDIN_PID=$!
    trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
    for ((i = 0; i < 100; i++)); do
        [[ -s "$dir/standin.out" ]] && break
        sleep 0.1
    done
    local port
    port=$(python3 -c 'import json, sys; print(json.loads(sys.stdin.readline())["port"])' <"$dir/standin.out") ||
        fail "the SQL Server stand-in did not start: $(cat "$dir/standin.err")"
    sed -i "s|<DBServerName>.*</DBServerName>|<DBServerName>127.0.0.1,$port</DBServerName>|" "$dir/Mirkel.XML"
}

# start_tool DIR FAKETIME: starts the program as the operator would. Sets TOOL_PID to the
# program's own process (faketime runs it as a child and waits for it: a signal meant for
# the program must not reach faketime instead), FAKETIME_PID to reap, and MAIN. A FAKETIME
# starting with @ is libfaketime's own form: '@2012-12-10 10:00:00 x20' runs the clock, and
# the program's timers, twenty times faster.
start_tool() {
    local dir=$1 when=$2 form=()
    [[ "$when" == @* ]] && form=(-f)
    "${TOOL_AS[@]}" faketime "${form[@]}" "$when" "${TOOL_RUNNER[@]}" "$dir/$TOOL_FILE" >"$dir/stdout.txt" 2>&1 &
    FAKETIME_PID=$!
    TOOL_PID=
    for ((i = 0; i < 100; i++)); do
        TOOL_PID=$(pgrep -P "$FAKETIME_PID" -x ConvertiCodiceT) && break
        sleep 0.05
    done
    [[ -n "$TOOL_PID" ]] || fail "the program did not start"
    MAIN=$(wait_window "$MAIN_TITLE" 30) || fail "the main window did not appear"
    # The first paint follows the mapping closely; give it a moment before any click.
    sleep 0.3
}

click_at() {
    local -n spot=$2
    click_in "$1" "${spot[0]}" "${spot[1]}"
}

# acknowledge TITLE_REGEX EXPECTED_TEXT SHOT [SECONDS]: waits for a message box, keeps a
# screenshot, checks its text and presses its OK button.
acknowledge() {
    local title=$1 expected=$2 file=$3 limit=${4:-30} box text
    box=$(wait_window "$title" "$limit") || fail "no message box titled $title"
    sleep 0.3
    shot "$file"
    # WHOLE_BOX=1: every line of the box is read, not only its first.
    if [[ "${WHOLE_BOX:-}" == 1 ]]; then
        text=$(box_whole_text "$box") || fail "could not read the whole box titled $title"
    else
        text=$(box_text "$box") || fail "could not read the box titled $title"
    fi
    BOX_TEXT=$text
    # FIRST_LINE_ONLY=1: the box goes on below its first line (a summary); the rest is left
    # in BOX_TEXT for the caller.
    [[ "${FIRST_LINE_ONLY:-}" == 1 ]] && text=${text%%$'\n'*}
    [[ "$text" == "$expected" ]] || fail "box $title says \"$text\", expected \"$expected\""
    echo "box: $BOX_TEXT"
    press_return "$box"
    wait_window_gone "$box" 10 || fail "the box \"$text\" did not close"
}

# dump DB SQL: rows of one query, "|"-separated.
dump() {
    sqlite3 -batch "$1" "$2"
}
