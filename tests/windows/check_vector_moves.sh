#!/usr/bin/env bash
# Fails when a Windows module moves a vector register to or from the stack
# with an alignment-checking instruction. Windows aligns the stack to 16 bytes
# on x64 and only to 4 on 32-bit x86, and GCC cannot realign it for 32- and
# 64-byte vectors there: an aligned spill of a ymm or zmm register (or, on
# 32-bit, of an xmm register) may fault. The toolchain files assemble every
# vector move as an unaligned one (-Wa,-muse-unaligned-vector-move); this
# check holds the built module to it, whichever compiler produced it.
#
# Usage: check_vector_moves.sh OBJDUMP MODULE
set -uo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 OBJDUMP MODULE" >&2
  exit 2
fi
objdump=$1
module=$2

listing=$("$objdump" -d --no-show-raw-insn "$module") || { echo "FAIL: cannot disassemble '$module'"; exit 1; }
aligned='(v?movdqa|vmovdqa32|vmovdqa64|v?movaps|v?movapd|v?movntdq|v?movntps|v?movntpd)'
stack='\(%(rsp|rbp|esp|ebp)'
found=$(grep -E "[[:space:]]$aligned[[:space:]]" <<<"$listing" | grep -E "$stack")
vector_stack=$(grep -E '[[:space:]]v?mov[a-z0-9]*[[:space:]]' <<<"$listing" | grep -E '%[xyz]mm' | grep -cE "$stack")

echo "module: $module"
echo "vector moves to or from the stack: $vector_stack"
if [[ -n $found ]]; then
  echo "FAIL: aligned vector moves on the stack:"
  sed 's/^/  /' <<<"$found" | head -n 20
  exit 1
fi
echo "none of them alignment-checking: check passed"
