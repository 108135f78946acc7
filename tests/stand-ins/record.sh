# shellcheck shell=bash
# Sourced by the stand-ins: appends one line to /standin/calls for each call:
# the program, the working directory, what the tool should not have let
# it inherit (descriptors beyond 0, 1 and 2, signals blocked or ignored,
# any environment but PATH, LC_ALL and umask as the tool sets them; bash
# adds PWD and SHLVL), and the arguments, each ended by NUL. Scenario switches are files in
# /standin/scenario.
record() {
  local fd key value inherited=
  for fd in /proc/$$/fd/*; do  # bash reads the script through one; the listing held one, gone by now
    case ${fd##*/} in 0 | 1 | 2) ;; *) [ -L "$fd" ] && [ ! "$fd" -ef "$0" ] && inherited+=" fd ${fd##*/}" ;; esac
  done
  while read -r key value; do  # bash ignores SIGQUIT itself; SIGPIPE and SIGXFSZ are the tool's
    case $key in
    SigBlk:) ((16#$value)) && inherited+=" blocked $value" ;;
    SigIgn:) ((16#$value & 0x1001000)) && inherited+=" ignored $value" ;;
    esac
  done < /proc/$$/status
  [ "$(umask) $PATH $LC_ALL $(compgen -e | grep -cvxE 'LC_ALL|PATH|PWD|SHLVL')" = "0022 /usr/bin:/bin:/usr/sbin:/sbin C 0" ] ||
    inherited+=" environment"
  printf '%s\0' "$1" "$PWD" "$inherited" "${@:2}" >> /standin/calls
  echo >> /standin/calls
}
setting() { [ -f "/standin/scenario/$1" ] && cat "/standin/scenario/$1"; }
