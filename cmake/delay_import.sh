#!/bin/sh
# Makes a delay-load import library with every function of a system import
# library: delay_import.sh NM DLLTOOL IMPORT-LIBRARY DLL-NAME OUTPUT
set -eu
nm=$1 dlltool=$2 library=$3 dll=$4 out=$5
"$nm" -g "$library" | sed -n 's/.* I __imp_//p' | sort -u | sed '1i EXPORTS' >"$out.def"
"$dlltool" --input-def "$out.def" --output-delaylib "$out" --dllname "$dll"
