# How each export of a stripped 32-bit DLL returns, for the calling convention checks:
# after `source pe_returns.sh`, `pe_export_returns HEADERS DISASSEMBLY NAME` prints
# the distinct return instructions of export NAME, comma-terminated ("ret $0x18," for
# a stdcall procedure of six arguments, "ret," for the C calling convention). HEADERS
# is `objdump -p DLL`, DISASSEMBLY `objdump -d --no-show-raw-insn DLL`. The export's
# code is found at its address in the export table, and its returns by following the
# code from there, through every branch and jump, to each ret. An indirect jump cannot
# be followed and shows as "jump TARGET"; no export address prints nothing.
pe_export_returns() {
  local headers=$1 disassembly=$2 name=$3 image_base rva start
  rva=$(awk -v n="$name" '/Export Address Table -- Ordinal Base/{on=1; next} on && /Export RVA/{i++; addr[i]=$(NF-2)} /\[Ordinal\/Name Pointer\] Table/{t=1; next} t && $NF==n {gsub(/[\[\]]/,""); print addr[$1+1]; exit}' <<<"$headers")
  [ -n "$rva" ] || return 0
  image_base=$(awk '/^ImageBase/{print $2}' <<<"$headers")
  start=$(printf '%x' $((16#$image_base + 16#$rva)))
  awk -F'\t' -v start="$start" '
    # "addr:<tab>mnemonic operands", addresses in lower-case hex without 0x.
    $1 ~ /^ *[0-9a-f]+:$/ {
      a = $1; gsub(/[ :]/, "", a)
      n++; at[a] = n; addr[n] = a; insn[n] = $2
    }
    END {
      if (!(start in at)) { print "no code at export"; exit }
      todo[++top] = start
      while (top > 0) {
        i = at[todo[top--]]
        for (; i <= n && !(addr[i] in seen); i++) {
          seen[addr[i]] = 1
          split(insn[i], w, " ")
          op = w[1]; target = w[2]; sub(/^0x/, "", target)
          if (op ~ /ret/) { found[insn[i]] = 1; break }
          if (op == "ud2" || op == "int3") break
          if (op ~ /^j/) {
            if (!(target in at)) { found["jump " w[2]] = 1; break }
            todo[++top] = target
            if (op == "jmp") break
          }
        }
      }
      for (r in found) print r
    }' <<<"$disassembly" | sed 's/ \+/ /g' | sort -u | tr '\n' ','
}
