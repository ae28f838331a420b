# Drives the real program on an X display with xdotool; sourced by
# scripts/screenshot, scripts/check-quit-signal, scripts/check-preview-*,
# scripts/soak and scripts/bench-window. Keys are pressed lumora_key_pause
# seconds apart (0.4 unless set).
#   lumora_start <program> <start-dir>   sets lumora_pid and lumora_window
#   lumora_find_window <pid>             sets lumora_pid and lumora_window
#   lumora_start_video [compressor]      视频 > 开始视频 on the test pattern,
#                                        with the compressor whose name starts so
#                                        (lumora_open_device_dialog, then
#                                        lumora_choose_test_pattern, then OK)
#   lumora_record_menu                   视频 > 录相
#   lumora_record                        starts the preview, then records
#   lumora_video_menu <n>                视频 > the item n enabled items down
#                                        (previewing: 0 开始视频, 1 录相, 2 暂停, 3 停止)
#   lumora_stray_windows                 prints the windows on the screen, directly
#                                        under the root, that are not the program's

lumora_press() {  # keys..., one at a time, to the focused window
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep "${lumora_key_pause:-0.4}"
    done
}

lumora_find_window() {
    lumora_pid=$1
    lumora_window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$lumora_pid" --name '^Lumora$' | head -1)
    xdotool windowactivate --sync "$lumora_window" 2>/dev/null ||
        xdotool windowfocus --sync "$lumora_window"
    sleep 1
}

lumora_start() {
    (cd "$2" && LUMORA_TEST_SOURCES=1 exec env -u QT_QPA_PLATFORM "$1" >"$2/lumora.log" 2>&1) &
    lumora_find_window $!
}

lumora_open_device_dialog() {
    # 视频 > 开始视频 opens the device dialog.
    lumora_press alt+c Return
    timeout 10 xdotool search --sync --onlyvisible --pid "$lumora_pid" --name '^视频设备$' >/dev/null
}

lumora_choose_test_pattern() {  # [compressor]
    # The test pattern is the last input.
    lumora_press End
    if [[ -n ${1:-} ]]; then
        # The compressor list follows; typing picks the first entry starting
        # with the text (typed quickly: a pause starts a new search; a space
        # opens the list instead).
        lumora_press Tab
        xdotool type --delay 60 "$1"
        sleep 0.4
    fi
}

lumora_start_video() {  # [compressor]
    lumora_open_device_dialog
    lumora_choose_test_pattern "${1:-}"
    lumora_press Return
}

lumora_record_menu() {
    # 视频 > 录相 (the item after the separator).
    xdotool windowfocus --sync "$lumora_window" 2>/dev/null || true
    lumora_press alt+c Down Return
}

lumora_record() {
    lumora_start_video
    sleep 2
    lumora_record_menu
}

lumora_video_menu() {  # n
    xdotool windowfocus --sync "$lumora_window" 2>/dev/null || true
    local keys=(alt+c) i
    for ((i = 0; i < $1; i++)); do keys+=(Down); done
    lumora_press "${keys[@]}" Return
}

# The program's windows are of class "Lumora"; a video sink not given the
# view's window opens one of its own, of class "GStreamer" (with the
# program's name and pid).
lumora_stray_windows() {
    local window class
    for window in $(xwininfo -root -children | awk '/^ +0x/ {print $1}'); do
        xwininfo -id "$window" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
        class=$(xprop -id "$window" WM_CLASS 2>/dev/null | sed -n 's/.*", "\(.*\)"$/\1/p')
        [[ $class == Lumora ]] || echo "$window $(xprop -id "$window" WM_CLASS WM_NAME 2>/dev/null | tr '\n' ' ')"
    done
}
