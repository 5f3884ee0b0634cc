# Shared by the bench scripts (sourced). measure runs a command and prints
# its wall time and peak resident memory as /usr/bin/time measures them. The
# peak resident size counts every page the program touched, the pages of
# database files that SQLite maps included. RUNS (default 3) runs give the
# median time and the largest peak. Exit status 0 or 1 of kesmark-diff is its
# answer, not a failure; 2 stops the script. peak_private_kib, at the end,
# leaves the mapped pages out.

measure() {
  runs=${RUNS:-3}
  out=$(mktemp)
  for _ in $(seq "$runs"); do
    status=0
    /usr/bin/time -f '%e %M' -o "$out.time" "$@" >/dev/null 2>"$out.err" || status=$?
    if [ "$status" -gt 1 ]; then
      echo "failed ($status):" >&2
      cat "$out.err" "$out.time" >&2
      rm -f "$out" "$out.time" "$out.err"
      return 2
    fi
    tail -1 "$out.time" >> "$out"
  done
  sort -n "$out" | awk -v runs="$runs" '
    { t[NR] = $1; if ($2 > peak) peak = $2 }
    END {
      median = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "wall time:     %.2f s (median of %d)\n", median, runs
      printf "peak resident: %.1f MiB (largest of %d)\n", peak / 1024, runs
    }'
  rm -f "$out" "$out.time" "$out.err"
}

# Peak private (anonymous) memory in KiB of one run of a command, sampled
# every 5 ms: the resident size that measure prints also counts the pages of
# the database files that SQLite maps, which belong to the system's file
# cache, not to the program.
peak_private_kib() {
  "$@" >/dev/null 2>&1 &
  pid=$!
  peak=0
  while kill -0 "$pid" 2>/dev/null; do
    now=$(awk '/^RssAnon:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ -n "$now" ] && [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.005
  done
  wait "$pid" || true
  echo "$peak"
}
