# Counts the wineserver's requests (a WINEDEBUG=+server trace on standard
# input) between the phase marks of orvbench --count: a mark is a named event
# "orvbench.phase.<phase>.<divisor>"; "end" closes a phase. Prints, per phase,
# the requests per divisor unit (per file, per look-up) and the most frequent kinds.
/create_event\(/ && /orvbench\.phase\./ {
  match($0, /orvbench\.phase\.[a-z0-9-]+\.[0-9]+/)
  split(substr($0, RSTART + 15, RLENGTH - 15), mark, ".")
  phase = mark[1] == "end" ? "" : mark[1]
  if (phase != "" && !(phase in unit)) { order[++phases] = phase; unit[phase] = mark[2] + 0 }
  next
}
phase != "" && /^[0-9a-f]+: [a-z_0-9]+\( / {
  name = $2; sub(/\(.*/, "", name)
  total[phase]++
  kind[phase, name]++
}
END {
  for (i = 1; i <= phases; i++) {
    p = order[i]; d = unit[p] > 0 ? unit[p] : 1
    line = ""
    # The five most frequent kinds of request.
    delete seen
    for (t = 1; t <= 5; t++) {
      best = ""; bestn = 0
      for (key in kind) {
        split(key, k, SUBSEP)
        if (k[1] != p || (k[2] in seen)) continue
        if (kind[key] > bestn) { bestn = kind[key]; best = k[2] }
      }
      if (best == "") break
      seen[best] = 1
      line = line sprintf(" %s %.1f", best, bestn / d)
    }
    printf "  %-22s %8.1f  per %s:%s\n", p, total[p] / d, d == 1 ? "run" : d, line
  }
}
