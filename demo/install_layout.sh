#!/usr/bin/env bash
# Lays out an installation of the suite in a Wine prefix's C: drive, as the
# setup program does, plus the six model programs (the stand-in, copied to
# each path of the chooser's model table) and a data file to open in them:
#   C:\trelvane\program\   model_chooser.exe, file_picker.exe, program_Main.txt
#                          and the six model programs
#   C:\trelvane\tep\       the hand-off directory
#   C:\trelvane\demo\survey.csv   the demo's data file (a header line, six rows)
#   C:\ambrelle\program_ROSKA\BB.ico   the chooser's window icon
# Usage: install_layout.sh [--models-only] DRIVE_C BUILD_DIR [DISPLAY_TEXT_FILE]
# With --models-only just the model programs and the data file are copied
# (the setup program laid out the rest). Files already there are replaced;
# running it again gives the same layout.
set -euo pipefail
models_only=0
if [ "${1:-}" = --models-only ]; then
  models_only=1
  shift
fi
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
count=0
while read -r name; do
  cp "$build/demo/model_stand_in.exe" "$program/$name"
  count=$((count + 1))
done < <(model_programs)
if [ "$count" -ne 6 ]; then
  echo "install_layout: expected 6 model programs in the model table, found $count" >&2
  exit 1
fi
mkdir -p "$drive_c/trelvane/demo"
cp "$here/survey.csv" "$drive_c/trelvane/demo/survey.csv"
[ "$models_only" = 1 ] && exit 0

mkdir -p "$drive_c/ambrelle/program_ROSKA"
cp "$build/chooser/model_chooser.exe" "$build/picker/file_picker.exe" "$program/"
cp "$text" "$program/program_Main.txt"
cp "$build/packaging/BB.ico" "$drive_c/ambrelle/program_ROSKA/BB.ico"
