#!/usr/bin/env bash
# The built mailvane-gui used as a person uses it: on its own X server with a window manager,
# driven from outside with the keyboard (xdotool), its boxes read through the accessibility
# bus as a screen reader reads them. Converts the sample export, checks the PST against the
# command line's PST of the same folder, then tries the help, a target nobody may write to,
# and the exit question. A screenshot of every step is kept in OUT_DIR.
#
#   gui_session_test.sh GUI CLI PSTCHECK SOURCE_DIR OUT_DIR
set -euo pipefail

if [ -z "${MAILVANE_GUI_TEST_BUS:-}" ]; then
  # A session bus of its own, so the accessibility bus is ours alone.
  exec env MAILVANE_GUI_TEST_BUS=1 dbus-run-session -- bash "$0" "$@"
fi

gui=$1 cli=$2 pstcheck=$3 source_dir=$4 out_dir=$5
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
export=$source_dir/examples/zimbra-export
main_title='Larkwell Mailvane v4.3'
app_title='Larkwell Mailvane'

work=$(mktemp -d)
mkdir -p "$out_dir" "$work/home" "$work/run" "$work/bin" "$work/out-gui" "$work/out-cli"
chmod 700 "$work/run"
rm -f "$out_dir"/*.png
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  shot failure || true
  [ -f "$work/gui.log" ] && sed 's/^/  gui: /' "$work/gui.log" >&2
  exit 1
}

step=0
shot() {
  step=$((step + 1))
  import -window root "$(printf '%s/%02d-%s.png' "$out_dir" "$step" "$1")"
}

# Waits (up to $2 s) until a visible window's name matches the regex $1; prints its id.
wait_window() {
  local deadline=$((SECONDS + ${2:-20})) id
  while ((SECONDS < deadline)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1) || true
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  fail "no window named /$1/ appeared"
}

wait_no_window() {
  local deadline=$((SECONDS + ${2:-20}))
  while ((SECONDS < deadline)); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the window named /$1/ did not close"
}

# Keys to the window $1 once it has the focus.
keys_to() {
  local id=$1
  shift
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || xdotool windowfocus --sync "$id"
  xdotool key --delay 40 "$@"
}

# The texts of the labels of the window titled $1, as the accessibility bus gives them.
texts_of() {
  "$python" "$here/atspi_texts.py" "$app_title" "$1" 20 || fail "cannot read the window '$1'"
}

expect_line() {  # expect_line TEXT LINE: LINE is one of TEXT's lines
  grep -qxF -- "$2" <<<"$1" || fail "expected the line '$2' in:
$1"
}

# The real folder dialog: the path typed into its name field, Enter until it closes (the
# first Enter may only take the completion offered while typing).
choose_folder() {
  local title=$1 folder=$2 id tries
  id=$(wait_window "^$title\$")
  shot "$(tr -c "a-zA-Z0-9\n" - <<<"$title" | tr -s - | sed "s/-$//" | tr A-Z a-z)"
  keys_to "$id" ctrl+a
  xdotool type --delay 15 "$folder"
  for tries in 1 2 3; do
    xdotool key Return
    sleep 0.3
    xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || return 0
  done
  fail "the dialog '$title' did not take $folder"
}

# --- the display, the window manager, the program ---------------------------------------
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done

# The desktop's opener: records what it is asked to open, fails when told to.
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
echo "\$1" >>"$work/opened"
exit \$(cat "$work/opener-exit" 2>/dev/null || echo 0)
EOF
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

"$python" "$here/atspi_texts.py" --start-bus
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$gui" >"$work/gui.log" 2>&1 &
gui_pid=$!
pids+=("$gui_pid")
main=$(wait_window "^$main_title\$" 30)
shot start

# --- choose the sample export ------------------------------------------------------------
keys_to "$main" space  # the focus starts on "Add Folder having Zimbra File(s)..."
choose_folder 'Choose Source Folder...' "$export"
box=$(wait_window "^$app_title\$")
count_text=$(texts_of "$app_title")
shot count-box
# Every file beneath the chosen folder is counted, whatever its kind.
files=$(find "$export" -type f | wc -l)
expect_line "$count_text" "$files Messages Queued for Conversion."
keys_to "$box" Return
wait_no_window "^$app_title\$"

# --- convert: Alt+M, the target, the completion box --------------------------------------
keys_to "$main" alt+m
choose_folder 'Choose Folder to Save...' "$work/out-gui"
box=$(wait_window '^Mailvane$' 60)
done_text=$(texts_of Mailvane)
shot completion-box
gui_pst=$(ls "$work"/out-gui/*.pst)
expect_line "$done_text" 'Zimbra Messages Converted Successfully.'
expect_line "$done_text" 'Open Outlook to view converted PST file.'
expect_line "$done_text" "$gui_pst"
keys_to "$box" Return
wait_no_window '^Mailvane$'
shot after-run

# --- the same folder on the command line; the same items ---------------------------------
"$cli" --quiet "$export" "$work/out-cli" || fail "the command line failed"
cli_pst=$(ls "$work"/out-cli/*.pst)
for pst in "$gui_pst" "$cli_pst"; do
  "$pstcheck" "$pst" >"$work/check.txt" || fail "$pst does not pass the checker: $(cat "$work/check.txt")"
done
"$python" "$here/../support/pypff_read.py" items "$gui_pst" >"$work/gui-items.txt" || fail "pypff cannot read $gui_pst"
"$python" "$here/../support/pypff_read.py" items "$cli_pst" >"$work/cli-items.txt" || fail "pypff cannot read $cli_pst"
diff -u "$work/cli-items.txt" "$work/gui-items.txt" >&2 || fail "the window's PST differs from the command line's"
items=$(grep -cvx done "$work/gui-items.txt")
# The command line's report says how many items it wrote; the window's file holds as many.
written=$(sed -n 's/^Items written: //p' "${cli_pst%.pst}.log" | grep -o '[0-9]\+' | awk '{n += $1} END {print n + 0}')
[ "$written" -gt 0 ] && [ "$items" -eq "$written" ] ||
  fail "expected the $written items the command line wrote, found $items"

# --- help: the link (Tab, Space) and the button open one address; failing that, a box ----
keys_to "$main" Tab space  # from "Add Folder...", past the disabled "Convert", to the link
keys_to "$main" alt+h
for _ in $(seq 50); do [ "$(wc -l <"$work/opened" 2>/dev/null || echo 0)" -ge 2 ] && break; sleep 0.1; done
[ "$(sort -u "$work/opened" | wc -l)" -eq 1 ] && [ "$(wc -l <"$work/opened")" -eq 2 ] ||
  fail "the button and the link did not open one address: $(cat "$work/opened" 2>/dev/null)"
echo 3 >"$work/opener-exit"
keys_to "$main" alt+h
box=$(wait_window "^$app_title\$")
help_text=$(texts_of "$app_title")
shot help-not-opened
expect_line "$help_text" 'The product guide could not be opened: no program is set up to open it.'
guide=$(sed -n 's/^Open it in a web browser: //p' <<<"$help_text")
[ -f "$guide" ] || fail "the help box names no guide that exists: $help_text"
keys_to "$box" Return
wait_no_window "^$app_title\$"

# --- a target nobody may write to: the set-up's box gives the cause and what to do -------
keys_to "$main" shift+Tab space  # from the link back to "Add Folder..."
choose_folder 'Choose Source Folder...' "$export"
box=$(wait_window "^$app_title\$")
keys_to "$box" Return
wait_no_window "^$app_title\$"
keys_to "$main" Return  # the focus went to "Convert Messages"
choose_folder 'Choose Folder to Save...' /proc
box=$(wait_window '^Outlook Error$')
error_text=$(texts_of 'Outlook Error')
shot outlook-error-box
expect_line "$error_text" 'Outlook Session Creation Error !'
expect_line "$error_text" 'Choose a folder you may write to.'
grep -q '^Cause : .*/proc' <<<"$error_text" || fail "no cause naming the target: $error_text"
! grep -q 'Outlook 20\|support.microsoft' <<<"$error_text" || fail "Outlook advice: $error_text"
keys_to "$box" Return
wait_no_window '^Outlook Error$'
status=$(texts_of "$main_title")
! grep -qxF 'Outlook Session Created...' <<<"$status" || fail "the status still says the session was created"
grep -q '^Conversion not started: ' <<<"$status" || fail "no status of the failed start: $status"
shot after-error

# --- the exit question: No keeps the window, Yes ends the program ------------------------
keys_to "$main" alt+x
box=$(wait_window "^$app_title\$")
expect_line "$(texts_of "$app_title")" 'Are you sure you want to exit now?'
shot exit-question
keys_to "$box" Escape
wait_no_window "^$app_title\$"
kill -0 "$gui_pid" 2>/dev/null || fail "No ended the program"
keys_to "$main" alt+x
box=$(wait_window "^$app_title\$")
keys_to "$box" Return
for _ in $(seq 100); do kill -0 "$gui_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$gui_pid" 2>/dev/null && fail "Yes did not end the program"
wait "$gui_pid" || fail "the program ended with status $?"
echo "PASS: $items items, as on the command line; screenshots in $out_dir"
