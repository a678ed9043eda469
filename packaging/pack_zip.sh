#!/usr/bin/env bash
# Packs a ZIP that depends on nothing but the bytes of its files:
#
#   pack_zip.sh EPOCH OUT.zip DIR ENTRY...
#
# Each ENTRY (a path under DIR) is packed with everything below it, in byte
# order, every file and folder with the time EPOCH (seconds since 1970, UTC)
# and a fixed mode (folders 755, files 644), and with no extra fields (owner
# ids, access and change times: zip -X). ZIP times are local times, hence
# TZ=UTC.
set -euo pipefail
epoch=$1 out=$2 dir=$3
shift 3

cd "$dir"
mapfile -t entries < <(find "$@" | LC_ALL=C sort)
for entry in "${entries[@]}"; do
  if [ -d "$entry" ]; then chmod 755 "$entry"; else chmod 644 "$entry"; fi
  touch -h -d "@$epoch" "$entry"
done
rm -f "$out"
printf '%s\n' "${entries[@]}" | TZ=UTC zip -X -q "$out" -@
