#!/usr/bin/env bash
# Counts the stack accesses per Blowfish round in the multi-block loops of
# encrypt_text and decrypt_text (under a keyed BoxSet), read from the generated code of a built lupex.dll
# (its symbols from lupex.dll.debug beside it). In a round, the S-box loads and the
# P words are memory reads by design: whatever else the round reads or writes on the
# stack is a block half (or a pointer) that did not fit in a register, a spill. The
# count assumes the rounds unrolled whole, as blocks_encrypt asks the compiler to. P
# words are counted where they are read through the S-boxes' base register; a build
# that reads them through a register of their own shows 0 P-word reads.
# usage: loop_spills.sh build/win32/lupex.dll [i686|x86_64]
set -euo pipefail
dll=$1 arch=${2:-i686}
objdump=$arch-w64-mingw32-objdump nm=$arch-w64-mingw32-nm
debug=$dll.debug
[ -f "$debug" ] || { echo "loop_spills: $debug is missing (the build writes it beside the DLL)" >&2; exit 1; }

symbols=$("$nm" -n "$debug")
for function in encrypt_text decrypt_text; do
  # The function runs from its symbol to the next text symbol.
  range=$(awk -v f="$function" '
    $2 ~ /^[Tt]$/ { if (start != "" && $1 != start) { print start, $1; exit } }
    $2 ~ /^[Tt]$/ && $3 ~ ("^_*Z[0-9]+" f "PK9lupex_key") { start = $1 }' <<<"$symbols")
  [ -n "$range" ] || { echo "loop_spills: no $function in $debug" >&2; exit 1; }
  read -r start stop <<<"$range"
  "$objdump" -d --no-show-raw-insn --start-address=0x"$start" --stop-address=0x"$stop" "$dll" |
    awk -F'\t' -v f="$function" -v stack='%[er]sp|%[er]bp' '
      $1 ~ /^ *[0-9a-f]+:$/ {
        a = $1; gsub(/[ :]/, "", a)
        n++; addr[n] = a; at[a] = n; insn[n] = $2
      }
      # A memory operand "disp(base[,index,scale])".
      function operand(s) { return match(s, /-?(0x[0-9a-f]+)?\(%[a-z0-9]*(,%[a-z0-9]+,[1248])?\)/) ? substr(s, RSTART, RLENGTH) : "" }
      function disp(m) { sub(/\(.*/, "", m); return m == "" ? 0 : (m ~ /^-/ ? -hex(substr(m, 2)) : hex(m)) }
      function hex(h,  v, i) { sub(/^0x/, "", h); v = 0; for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(h, i, 1)) - 1; return v }
      function base(m) { sub(/^[^(]*\(/, "", m); sub(/[,)].*/, "", m); return m }
      function key(m) { return base(m) " " disp(m) }
      function indexed(m) { return m ~ /\(%[a-z0-9]+,%[a-z0-9]+,[14]\)/ }
      END {
        # The four S-boxes: the four base and displacement pairs most often indexed by
        # a byte offset (round_f addresses them so).
        for (k = 1; k <= n; k++) { m = operand(insn[k]); if (indexed(m)) uses[key(m)]++ }
        for (b = 1; b <= 4; b++) {
          top = ""
          for (g in uses) if (!(g in sbox) && (top == "" || uses[g] > uses[top])) top = g
          if (top == "") { print f ": fewer than four S-boxes found"; exit 1 }
          sbox[top] = 1
          split(top, bd, " ")
          if (b == 1 || bd[2] < smin) { smin = bd[2]; sbase = bd[1] }
        }
        # The loops: a backward jump and its target. The multi-block loop is the one of
        # the innermost loops (holding no other) with the most S-box loads.
        loops = 0
        for (i = 1; i <= n; i++) {
          split(insn[i], w, " ")
          if (w[1] !~ /^j/) continue
          t = w[2]; sub(/^0x/, "", t)
          if (!(t in at) || at[t] > i) continue
          loops++; head[loops] = at[t]; tail[loops] = i
        }
        best = 0
        for (l = 1; l <= loops; l++) {
          inner = 1
          for (o = 1; o <= loops; o++)
            if (o != l && head[o] >= head[l] && tail[o] <= tail[l]) inner = 0
          if (!inner) continue
          loads = 0
          for (k = head[l]; k <= tail[l]; k++) { m = operand(insn[k]); if (indexed(m) && key(m) in sbox) loads++ }
          if (loads > best) { best = loads; from = head[l]; to = tail[l] }
        }
        if (best == 0) { print f ": no loop with S-box loads"; exit 1 }
        # The rounds: from the first S-box load of the loop to its last.
        first = 0
        for (k = from; k <= to; k++) {
          m = operand(insn[k])
          if (!(indexed(m) && key(m) in sbox)) continue
          if (!first) first = k
          last = k
        }
        # The P words lie in the 72 bytes before the first S-box.
        spills = 0; pwords = 0
        for (k = first; k <= last; k++) {
          m = operand(insn[k])
          if (m == "" || (indexed(m) && key(m) in sbox)) continue
          if (base(m) == sbase && disp(m) >= smin - 72 && disp(m) < smin) pwords++
          else if (base(m) ~ ("^(" stack ")$")) spills++
        }
        blocks = best / 64
        printf "%s: %d blocks a loop, %d stack accesses in its 16 rounds, %.1f a round (%.1f a round per block); %d S-box loads, %d P-word reads\n",
          f, blocks, spills, spills / 16, spills / 16 / blocks, best, pwords
      }'
done
