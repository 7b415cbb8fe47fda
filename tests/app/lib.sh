# Helpers for the end-to-end tests: each test runs the recorder in a fresh
# base directory with its own HOME (the single-instance lock lives there).
set -u

TAVEL=${TAVEL:?path to the tavel binary}
failures=0
passes=0

fresh_dir() {
  local d
  d=$(mktemp -d /tmp/tavel-e2e-XXXXXX)
  mkdir -p "$d/home"
  echo "$d"
}

# wait_for SECONDS COMMAND...: polls until the command succeeds.
wait_for() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while ! "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.05
  done
}

check() {
  local label=$1
  shift
  if "$@"; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAILED: $label"
  fi
}

# Sends a key to a visible window whose name matches the pattern. The name
# search also finds windows of the same name that cannot take focus (under
# load they can come first), so each is tried until one takes the key.
press_in() {
  local pattern=$1 key=$2 id
  for id in $(xdotool search --onlyvisible --name "$pattern" 2>/dev/null); do
    timeout 5 xdotool windowfocus --sync "$id" key "$key" 2>/dev/null && return 0
  done
  return 1
}

log_has() { grep -qF -- "$2" "$1/tavel.log" 2>/dev/null; }

finish() {
  echo "$passes passed, $failures failed"
  [ $failures -eq 0 ]
}
