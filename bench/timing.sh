# Timing helpers for the benchmark scripts, sourced by them.

seconds() { # command...: prints the wall time and the processor time (user + system) in seconds
  local TIMEFORMAT='%R %U %S' times
  # Each run starts with nothing left to write: a sync in one run would otherwise also pay for
  # the files the run before it left in the page cache.
  sync
  times=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<< "$times"
}

median() { # column 1 (wall) or 2 (processor) of the lines read
  awk -v c="${1:-1}" '{ print $c }' | sort -n |
    awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
