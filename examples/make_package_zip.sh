#!/usr/bin/env bash
# Builds the example package archive with Info-ZIP zip:
#   examples/make_package_zip.sh OUT.zip
# The definition is named after the package executable to be built
# (SETUP42.exe needs SETUP42.xml).
set -euo pipefail
out=$(realpath -m "$1")
cd "$(dirname "$0")/package"
rm -f "$out"
zip -q -X "$out" SETUP42.xml tv_data.xml config_en.xml config_de.xml settings.cfg
(cd files && zip -q -X "$out" readme.txt sounddrv.inf sounddrv.bin)
