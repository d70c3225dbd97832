# Helpers for driving the tool's windows with xdotool; sourced by the demo and the
# end-to-end tests.

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

