#!/usr/bin/env bash
# Fails unless the given program defines every named function (C++ names,
# matched after demangling, up to the parameter list).
set -euo pipefail
exe=$1; shift
nm=${NM:-x86_64-w64-mingw32-nm}
defined=$("$nm" -C --defined-only "$exe" | sed -n 's/^[0-9a-f]* [Tt] \([A-Za-z_0-9]*\)(.*/\1/p' | sort -u)
missing=0
for name in "$@"; do
  if ! grep -qx "$name" <<<"$defined"; then
    echo "FAIL: $(basename "$exe") does not contain $name"; missing=1
  fi
done
[ "$missing" = 0 ] && echo "ok: $(basename "$exe") contains all $# functions"
exit "$missing"
