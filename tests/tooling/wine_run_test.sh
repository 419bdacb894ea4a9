#!/usr/bin/env bash
# The Wine runner tries again when Wine could not start a program, and never
# when the program ran. Wine's start failure cannot be had on demand, so a
# stand-in for wine plays it (SIFTWELL_WINE).
set -euo pipefail
runner=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/wine" <<'FAKE'
#!/usr/bin/env bash
case "$1" in wineboot|reg) exit 0 ;; esac
n=$(( $(cat "$STATE" 2>/dev/null || echo 0) + 1 )); echo $n > "$STATE"
case "$MODE" in
  flaky)  # Wine's own words, twice, then the program runs
    if [ $n -lt 3 ]; then
      echo "Application could not be started, or no application associated with the specified file." >&2
      echo "ShellExecuteEx failed: Internal error." >&2
      exit 1
    fi
    echo "ran $*" ;;
  flakyOnStdout)  # the same words where the program's output goes
    if [ $n -lt 2 ]; then echo "ShellExecuteEx failed: Internal error."; exit 1; fi
    echo "ran $*" ;;
  ranAndFailed) echo "[  FAILED  ] 1 test"; echo "assertion failed" >&2; exit 3 ;;
  neverStarts) echo "ShellExecuteEx failed: File not found." >&2; exit 1 ;;
esac
FAKE
chmod +x "$tmp/wine"
export SIFTWELL_WINE=$tmp/wine WINEPREFIX=$tmp/prefix DISPLAY=${DISPLAY:-:99}
fail=0
check() {  # mode, expected status, expected attempts, expected stdout
  local out status
  rm -f "$tmp/state"
  set +e
  out=$(STATE=$tmp/state MODE=$1 "$runner" prog.exe --arg 2>/dev/null)
  status=$?
  set -e
  local attempts; attempts=$(cat "$tmp/state")
  if [ "$status" != "$2" ] || [ "$attempts" != "$3" ] || [ "$out" != "$4" ]; then
    echo "FAIL $1: status $status (want $2), attempts $attempts (want $3), output '$out' (want '$4')"
    fail=1
  else
    echo "ok   $1: status $status after $attempts attempt(s)"
  fi
}
check flaky 0 3 "ran prog.exe --arg"
check flakyOnStdout 0 2 $'ShellExecuteEx failed: Internal error.\nran prog.exe --arg'
check ranAndFailed 3 1 "[  FAILED  ] 1 test"
check neverStarts 1 4 ""
exit $fail
