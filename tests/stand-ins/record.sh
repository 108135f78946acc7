# Sourced by the stand-ins: records one call as a file in /standin/calls
# holding the program name, the working directory and the arguments, each
# ended by a NUL byte. Scenario switches live in /standin/scenario.
scenario=/standin/scenario
record() {
  mkdir -p /standin/calls
  local n
  n=$(find /standin/calls -mindepth 1 -maxdepth 1 | wc -l)
  printf '%s\0' "$@" > "/standin/calls/$(printf %03d "$n")"
}
setting() { [ -f "$scenario/$1" ] && cat "$scenario/$1"; }
