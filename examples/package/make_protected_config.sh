#!/usr/bin/env bash
# Protects settings.plain as settings.cfg: DES in ECB mode under the key made
# from the package's file name ("setup42.exe" gives the 8 key bytes "setup42."),
# written as upper-case hexadecimal text. The plain text is padded with blanks
# to whole 8-byte blocks.
set -euo pipefail
cd "$(dirname "$0")"
key=$(printf 'setup42.' | od -An -tx1 | tr -d ' \n')
plain=$(cat settings.plain)
while [ $(( ${#plain} % 8 )) -ne 0 ]; do plain="$plain "; done
printf '%s' "$plain" |
  openssl enc -des-ecb -nopad -K "$key" -provider legacy -provider default |
  od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F' > settings.cfg
