# Sourced by the stand-ins: appends one line to /standin/calls for each call:
# the program, the working directory, any descriptor the caller let it
# inherit beyond 0, 1 and 2, and the arguments, each ended by NUL. Scenario
# switches are files in /standin/scenario.
record() {
  local fd leaked=
  for fd in /proc/$$/fd/*; do  # the listing held one more, gone by now
    case ${fd##*/} in 0 | 1 | 2 | 255) ;; *) [ -L "$fd" ] && leaked+=" ${fd##*/}" ;; esac
  done
  printf '%s\0' "$1" "$PWD" "$leaked" "${@:2}" >> /standin/calls
  echo >> /standin/calls
}
setting() { [ -f "/standin/scenario/$1" ] && cat "/standin/scenario/$1"; }
