# Drives the real program on an X display with xdotool; sourced by
# scripts/screenshot and scripts/check-quit-signal.
#   lumora_start <program> <start-dir>   sets lumora_pid and lumora_window
#   lumora_record                        starts the preview, then records

lumora_press() {  # keys..., one at a time, to the focused window
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep 0.4
    done
}

lumora_start() {
    (cd "$2" && LUMORA_TEST_SOURCES=1 exec env -u QT_QPA_PLATFORM "$1" >"$2/lumora.log" 2>&1) &
    lumora_pid=$!
    lumora_window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$lumora_pid" --name '^Lumora$' | head -1)
    xdotool windowactivate --sync "$lumora_window" 2>/dev/null ||
        xdotool windowfocus --sync "$lumora_window"
    sleep 1
}

lumora_record() {
    # 视频 > 开始视频; in the device dialog the test pattern is the last input.
    lumora_press alt+c Return
    timeout 10 xdotool search --sync --onlyvisible --pid "$lumora_pid" --name '^视频设备$' >/dev/null
    lumora_press End Return
    sleep 2
    # 视频 > 录相 (the item after the separator).
    xdotool windowfocus --sync "$lumora_window" 2>/dev/null || true
    lumora_press alt+c Down Return
}
