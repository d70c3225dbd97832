# Helpers for driving the tool's windows with xdotool; sourced by the demo and the
# end-to-end tests.
#
# Every X server these scripts start runs with -noreset: by default Xvfb resets itself when
# its last client leaves (a program killed or ended, a short-lived xdotool) and refuses a
# client that connects during the reset, so a program started just then would never show
# its window.

# wait_display SECONDS: waits until the X server named by DISPLAY answers a client, so that
# the first program started on it cannot find it not yet listening.
wait_display() {
    local limit=${1:-20} i
    for ((i = 0; i < limit * 10; i++)); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# wait_window NAME_REGEX SECONDS: prints the id of the first visible window whose name
# matches, waiting for it.
wait_window() {
    local name=$1 limit=${2:-20} id
    for ((i = 0; i < limit * 10; i++)); do
        id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1) || true
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

shot() { import -window root "$1"; }

click_in() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

press_return() {
    xdotool windowfocus --sync "$1" 2>/dev/null || true
    xdotool key --clearmodifiers Return
}


# wait_gone PID SECONDS: waits for the process to end.
wait_gone() {
    local pid=$1 limit=${2:-20}
    for ((i = 0; i < limit * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

# window_shown NAME_REGEX: whether a visible window matches now.
window_shown() {
    [[ -n "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1)" ]]
}

# wait_window_gone ID SECONDS: waits until the window is no longer mapped.
wait_window_gone() {
    local id=$1 limit=${2:-20}
    for ((i = 0; i < limit * 10; i++)); do
        xdotool search --onlyvisible --name '' 2>/dev/null | grep -qx "$id" || return 0
        sleep 0.1
    done
    return 1
}

# box_text ID: prints a message box's text. Qt labels are selectable by mouse, so a triple
# click on the text puts it in the primary selection. The selection is emptied first so
# that a click beside the text cannot hand back an older box's words.
box_text() {
    local id=$1 w h text x y
    eval "$(xdotool getwindowgeometry --shell "$id")"
    w=$WIDTH h=$HEIGHT
    # Plain boxes have the text near the top; boxes with an icon put it right of the icon.
    for spot in "$((w / 2)) 17" "$((w / 2)) 24" "$((w * 3 / 5)) 20" "$((w * 3 / 5)) 30"; do
        read -r x y <<<"$spot"
        ((y < h)) || continue
        xclip -selection primary -loops 1 -quiet </dev/null >/dev/null 2>&1 &
        local clearer=$!
        sleep 0.05
        xdotool mousemove --window "$id" "$x" "$y" click --repeat 3 --delay 80 1
        sleep 0.2
        text=$(xclip -o -selection primary 2>/dev/null) || text=
        kill "$clearer" 2>/dev/null || true
        wait "$clearer" 2>/dev/null || true
        if [[ -n "$text" ]]; then
            printf '%s\n' "$text"
            return 0
        fi
    done
    return 1
}
