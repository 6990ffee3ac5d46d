# Shared by the end-to-end scripts (sourced, not run). The sourcing script
# defines fail(), which these call.

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false once
# SECONDS have passed. Every wait of the scripts has such a deadline.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# The first visible window whose title matches the pattern, if any.
window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep .; }
no_window_named() { ! window_named "$1" >/dev/null; }

# A screenshot that really shows something: a PNG of more than 1000 bytes.
check_png() {
  [ -s "$1" ] || fail "$1 is empty or missing"
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
    fail "$1 is not a PNG file"
  [ "$(stat -c %s "$1")" -gt 1000 ] || fail "$1 is too small to show a window"
}
