#!/usr/bin/env bash
# Checks a built Windows module from its headers: its name, that it exports
# exactly VANTU_DLL_Init, that it has an entry (the runtime's start-up code,
# which hands the loader's notifications to DllEntryPoint), that it imports
# only DLLs Windows ships, and on 32-bit x86 how VANTU_DLL_Init and
# DllEntryPoint return (the first leaves its arguments to the caller, the
# load notification removes its three).
#
# Usage: check_pe.sh OBJDUMP MODULE
set -uo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 OBJDUMP MODULE" >&2
  exit 2
fi
objdump=$1
module=$2
failed=0
fail() { echo "FAIL: $*"; failed=1; }

headers=$("$objdump" -p "$module") || { echo "FAIL: cannot read '$module'"; exit 1; }
format=$("$objdump" -f "$module" | sed -n 's/.*file format //p')
echo "module: $module ($format)"

# ---- Name -------------------------------------------------------------------
[[ $(basename "$module") == "VANTU MEM.dll" ]] || fail "file name is '$(basename "$module")'"
internal=$(awk '/^The Export Tables/ { on = 1 }
                on && /^Name[ \t]/ { sub(/^Name[ \t]+[0-9a-fA-F]+ /, ""); print; exit }' <<<"$headers")
[[ $internal == "VANTU MEM.dll" ]] || fail "export directory names the module '$internal'"

# ---- Exports ----------------------------------------------------------------
# "[   1] VANTU_DLL_Init" lines under the name table, "[   1] +base[   2] 14c3
# Export RVA" lines under the address table; the bracketed index joins them.
names=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
             on && /^$/ { on = 0 }
             on { line = $0; sub(/^[ \t]*\[ *[0-9]+\] /, "", line); print line }' <<<"$headers")
actual=$(sort <<<"$names" | sed '/^$/d')
if [[ $actual != "VANTU_DLL_Init" ]]; then
  fail "exports are [$(tr '\n' ' ' <<<"$actual")], want exactly [VANTU_DLL_Init]"
else
  echo "exports: VANTU_DLL_Init"
fi
entry=$(awk '/^AddressOfEntryPoint/ { print $2; exit }' <<<"$headers")
if [[ -z $entry || $((16#$entry)) -eq 0 ]]; then
  fail "the module has no entry: the loader could not tell it of loading and unloading"
else
  echo "entry: $entry (the runtime's start-up code)"
fi

# ---- Imports ----------------------------------------------------------------
imports=$(sed -n 's/^[ \t]*DLL Name: //p' <<<"$headers")
[[ -n $imports ]] || fail "no imported DLLs found (unreadable import table?)"
while IFS= read -r dll; do
  [[ -z $dll ]] && continue
  case ${dll,,} in
    kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll)
      echo "import: $dll" ;;
    *) fail "imports '$dll', which Windows does not ship" ;;
  esac
done <<<"$imports"

# ---- Returns of the 32-bit exports ------------------------------------------
# Prints the return instructions of the export named $1, or "?" when the module
# has no symbols to tell where the function ends.
returns_of() {
  local index rva base start
  index=$(awk -v want="$1" '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
            on && /^$/ { exit }
            on { idx = $0; gsub(/^[ \t]*\[ *|\].*$/, "", idx)
                 nm = $0; sub(/^[ \t]*\[ *[0-9]+\] /, "", nm)
                 if (nm == want) { print idx; exit } }' <<<"$headers")
  rva=$(awk -v want="$index" '/^Export Address Table --/ { on = 1; next }
          on && /^$/ { exit }
          on { idx = $0; gsub(/^[ \t]*\[ *|\].*$/, "", idx)
               if (idx == want) { n = split($0, f, /[ \t\]]+/); for (i = 1; i <= n; i++)
                   if (f[i] == "Export") { print f[i - 1]; exit } } }' <<<"$headers")
  base=$(awk '/^ImageBase/ { print $2; exit }' <<<"$headers")
  if [[ -z $index || -z $rva || -z $base ]]; then
    echo "?"
    return
  fi
  start=$((16#$base + 16#$rva))
  "$objdump" -d --no-show-raw-insn --start-address=$start --stop-address=$((start + 4096)) "$module" |
    awk -v want="$1" '
      /^[0-9a-f]+ <.*>:$/ {
        if (seen) exit
        if (index($0, "<_" want ">:") == 0 && index($0, "<_" want "@") == 0 && index($0, "<" want ">:") == 0) { print "?"; exit }
        seen = 1; next
      }
      seen && /\tret/ { line = $0; sub(/^[^\t]*\t/, "", line); gsub(/[ \t]+/, " ", line); print line }'
}

# Prints the return instructions of the function whose symbol is $1, from the
# module's own symbol table; nothing when it has none by that name.
returns_of_symbol() {
  "$objdump" -d --no-show-raw-insn "$module" |
    awk -v want="<$1>:" '$0 ~ /^[0-9a-f]+ <.*>:$/ { if (seen) exit; seen = index($0, want) > 0; next }
                         seen && /\tret/ { line = $0; sub(/^[^\t]*\t/, "", line); gsub(/[ \t]+/, " ", line); print line }'
}

if [[ $format == pei-i386 ]]; then
  init_returns=$(returns_of VANTU_DLL_Init)
  entry_returns=$(returns_of_symbol _DllEntryPoint@12)
  [[ -n $entry_returns ]] || entry_returns="?"
  if [[ $init_returns == "?" || $entry_returns == "?" ]]; then
    echo "note: no symbols in the module, return conventions not checked"
  else
    if grep -q '\$' <<<"$init_returns"; then
      fail "VANTU_DLL_Init removes its own arguments ($(tr '\n' ';' <<<"$init_returns")); the caller must"
    else
      echo "VANTU_DLL_Init: arguments left to the caller"
    fi
    if [[ -z $entry_returns ]] || grep -qv '^ret \$0xc$' <<<"$entry_returns"; then
      fail "DllEntryPoint does not return with 'ret \$0xc' ($(tr '\n' ';' <<<"$entry_returns"))"
    else
      echo "DllEntryPoint: removes its three arguments"
    fi
  fi
fi

if [[ $failed -ne 0 ]]; then
  echo "module check failed"
  exit 1
fi
echo "module check passed"
