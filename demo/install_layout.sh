#!/usr/bin/env bash
# Lays out an installation of the suite in a Wine prefix's C: drive, as the
# setup program does, plus the six model programs at the paths of the
# chooser's model table and the demo's data files to open in them:
#   C:\trelvane\program\   model_chooser.exe, file_picker.exe, program_Main.txt
#                          and the six model programs
#   C:\trelvane\tep\       the hand-off directory
#   C:\trelvane\demo\      every demo/*.csv (a header line, then the rows)
#   C:\ambrelle\program_ROSKA\BB.ico   the chooser's window icon
# Usage: install_layout.sh [--models-only] [--real-models] DRIVE_C BUILD_DIR [DISPLAY_TEXT_FILE]
# The model programs are the stand-in (demo/model_stand_in.cpp) at all six
# paths; with --real-models each model program the build makes (the
# stripped one the packages ship) is put at its path, the stand-in at the
# others. With --models-only just the model programs and the data files are
# copied (the setup program laid out the rest). Files already there are
# replaced; running it again gives the same layout.
set -euo pipefail
models_only=0
real_models=0
while [ $# -gt 0 ]; do
  case $1 in
    --models-only) models_only=1 ;;
    --real-models) real_models=1 ;;
    *) break ;;
  esac
  shift
done
drive_c=$1
build=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
text=${3:-$here/../packaging/program_Main.txt}

# The model programs' file names, as the chooser's model table gives them.
model_programs() {
  grep -o 'trelvane\\\\program\\\\[A-Za-z_0-9]*\.exe' "$here/../chooser/choice.h" | sed 's/.*\\\\//'
}

program="$drive_c/trelvane/program"
mkdir -p "$program" "$drive_c/trelvane/tep"
# The staged tree of the packages holds exactly the model programs the
# build makes.
staged="$build/packaging/stage/trelvane/program"
count=0
real=()
while read -r name; do
  if [ "$real_models" = 1 ] && [ -f "$staged/$name" ]; then
    cp "$staged/$name" "$program/$name"
    real+=("${name%.exe}")
  else
    cp "$build/demo/model_stand_in.exe" "$program/$name"
  fi
  count=$((count + 1))
done < <(model_programs)
if [ "$count" -ne 6 ]; then
  echo "install_layout: expected 6 model programs in the model table, found $count" >&2
  exit 1
fi
[ "$real_models" = 0 ] ||
  echo "install_layout: model programs of the build: ${real[*]:-none}; the stand-in at the other paths"
mkdir -p "$drive_c/trelvane/demo"
cp "$here"/*.csv "$drive_c/trelvane/demo/"
[ "$models_only" = 1 ] && exit 0

mkdir -p "$drive_c/ambrelle/program_ROSKA"
cp "$build/chooser/model_chooser.exe" "$build/picker/file_picker.exe" "$program/"
cp "$text" "$program/program_Main.txt"
cp "$build/packaging/BB.ico" "$drive_c/ambrelle/program_ROSKA/BB.ico"
