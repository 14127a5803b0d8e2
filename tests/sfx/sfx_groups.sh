# The check groups of sfx_test.sh (sourced by it; see there for the helpers).
# shellcheck shell=bash disable=SC2016,SC2154  # sh -c bodies are meant literally; variables come from sfx_test.sh

group_setup() {
  mkdir -p "$work"
  # The Wine prefix survives: creating it is the slow part.
  find "$work" -mindepth 1 -maxdepth 1 ! -name wineprefix -exec rm -rf {} +
  bash "$src/examples/make_package_zip.sh" "$work/package.zip"
  mkdir "$work/pkg"
  if ! "$zipgraft" "$stub" "$work/package.zip" "$package" "sfx test" >"$work/zipgraft.log"; then
    cat "$work/zipgraft.log"
    fail "zipgraft builds the package from the fresh stub"
    return
  fi
  pass "zipgraft builds the package from the fresh stub"
  sfx "$work/first-start" "$package" --help # starts (and if new, creates) the prefix
  expect "the package runs under Wine" [ "$rc" = 0 ]
}

group_reproducible() {
  expect "the committed stub.exe is a fresh build of its source, byte for byte" \
    cmp "$src/examples/stub/stub.exe" "$stub"
  local size
  size=$(stat -c %s "$stub")
  echo "stub size: $size bytes"
  expect "the stub stays under 200 KB" [ "$size" -lt 204800 ]
}

group_package() {
  enter
  sfx list "$package" --list
  expect "--list succeeds" [ "$rc" = 0 ]
  expect "--list shows the names and sizes unzip -l shows" \
    diff <(unzip_members "$package") <(sfx_members list.out)

  sfx extract "$package" --extract out/nested
  expect "--extract into a missing directory succeeds" [ "$rc" = 0 ]
  mkdir ref && (cd ref && unzip -q "$package")
  expect "--extract gives the files unzip gives" diff -r ref out/nested
  sfx again "$package" --extract out/nested
  expect "extracting again replaces the files" \
    sh -c '[ "$0" = 0 ] && diff -r ref out/nested' "$rc"

  sfx version "$package" --version
  "$python" "$src/examples/show_version.py" "$package" >pefile.txt
  # pefile shows the keys as stored; the version API finds them in any case.
  expect "--version shows the strings pefile reads" diff \
    <(sed -nE 's/^  ([A-Za-z]+): /\L\1\E: /p' pefile.txt | sort) \
    <(grep -v '^Fixed' version.out | sed -E 's/^([A-Za-z]+): /\L\1\E: /' | sort)
  expect "--version shows the fixed file version" grep -qx "Fixed file version: $(
    sed -nE 's/^FileVersion \(fixed\): //p' pefile.txt)" version.out

  sfx describe "$package"
  local count total
  count=$(unzip_members "$package" | wc -l)
  total=$(unzip_members "$package" | awk '{ s += $1 } END { print s }')
  expect "without arguments it names the product and what it carries" sh -c \
    'grep -qx "Sound Driver Package 1.00.0.12" "$0" && grep -q "carries $1 members, $2 bytes" "$0" &&
     grep -q -- "--extract DIR" "$0"' describe.out "$count" "$total"

  local bad=0
  for args in "--bogus" "--extract" "--list extra" "--extract out x"; do
    # shellcheck disable=SC2086
    sfx usage "$package" $args
    [ "$rc" = 1 ] && grep -q usage: usage.err || bad=1
  done
  expect "bad arguments show the usage and exit 1" [ "$bad" = 0 ]
  sfx bare "$stub" --list
  expect "the bare stub exits 2: no package" sh -c '[ "$0" = 2 ] && grep -q "no package" "$1"' "$rc" bare.err
}

group_names() {
  enter
  local refused_expected evil_before=0
  refused_expected=$("$python" "$tools" names names.zip "$src/examples/package/SETUP42.xml")
  mkdir run
  "$zipgraft" "$stub" names.zip run/SETUP42.exe >zipgraft.log || { cat zipgraft.log; fail "package built"; return; }
  "$python" "$tools" patch-names run/SETUP42.exe
  [ -e /evil.txt ] && evil_before=1
  sfx extract run/SETUP42.exe --extract run/out
  expect "extraction with refused names exits 3" [ "$rc" = 3 ]
  expect "every hostile name is refused on stderr" [ "$(grep -c '^refused: ' extract.err)" = "$refused_expected" ]
  expect "nothing is written beside the target directory" \
    diff <(printf '%s\n' SETUP42.exe out) <(ls -A run)
  expect "nothing hostile is written inside it" [ -z "$(find run/out -name '*evil*')" ]
  expect "nothing is written on the Wine drive" [ -z "$(find "$work/wineprefix/drive_c" -maxdepth 2 -name '*evil*')" ]
  expect "nothing is written at the root of drive Z:" sh -c '[ "$0" = 1 ] || [ ! -e /evil.txt ]' "$evil_before"
  expect "no member data reaches the console device" sh -c '! grep -q EVIL "$0"' extract.out
  expect "a UTF-8 name is extracted with its content" \
    sh -c 'printf "utf-8 name\n" | cmp -s - "run/out/Größe/naïve €.txt"'
  expect "an OEM (CP437) name is extracted as such" sh -c 'printf "oem name\n" | cmp -s - run/out/café.txt'
  expect "nested directories are created" [ "$(wc -c <run/out/sub/deeper/good.txt)" = 5000 ]
  expect "a directory entry makes a directory" [ -d "run/out/empty dir" ]
  sfx list run/SETUP42.exe --list
  sfx_members list.out >members.txt
  expect "--list shows non-ASCII names in UTF-8" sh -c \
    'grep -qx "11  Größe/naïve €.txt" "$0" && grep -qx "9  café.txt" "$0"' members.txt
}

group_damaged() {
  enter
  cp "$package" SETUP42.exe
  "$python" "$tools" flip SETUP42.exe sounddrv.bin # stored
  "$python" "$tools" flip SETUP42.exe tv_data.xml  # deflated
  sfx extract SETUP42.exe --extract out
  expect "a damaged member makes extraction exit 3" [ "$rc" = 3 ]
  expect "the stored member reports a CRC error" grep -q "sounddrv.bin: CRC-32 mismatch" extract.err
  expect "the deflated member reports an error" grep -q "tv_data.xml: " extract.err
  expect "no file, whole or partial, is left for them" \
    sh -c '[ ! -e out/sounddrv.bin ] && [ ! -e out/tv_data.xml ] && [ -z "$(find out -name "*.part")" ]'
  mkdir ref && (cd ref && unzip -qq "$package" && rm sounddrv.bin tv_data.xml)
  expect "the other members are still extracted whole" diff -r ref out

  mkdir sizes && cp "$package" sizes/SETUP42.exe
  "$python" "$tools" set sizes/SETUP42.exe config_en.xml csize 7fffffff
  "$python" "$tools" set sizes/SETUP42.exe config_de.xml usize 7ffffff0
  "$python" "$tools" set sizes/SETUP42.exe settings.cfg offset fffffff0
  "$python" "$tools" set sizes/SETUP42.exe readme.txt usize ffffffff
  sfx sizes sizes/SETUP42.exe --extract sizes/out
  expect "declared sizes and offsets out of range fail only their members" sh -c \
    '[ "$0" = 3 ] && [ "$(grep -c "^error: " sizes.err)" = 4 ] && [ "$(ls sizes/out | wc -l)" = 4 ]' "$rc"

  head -c -30 "$package" >truncated.exe
  sfx truncated truncated.exe --list
  expect "a package cut short exits 2" sh -c '[ "$0" = 2 ] && grep -q "no package" truncated.err' "$rc"
}

# Packages built from the example archive as streaming and ZIP64 writers make
# it, and with the longest comment: every reader reads them whole.
group_writers() {
  enter
  mkdir files && (cd files && unzip -qq "$work/package.zip")
  (cd files && zip -q -fd -r ../fd.zip . && zip -q -fz -r ../fz.zip . &&
    zip -q -r - . | cat >../pipe.zip)
  (cd files && "$python" -c '
import os, sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, "w", zipfile.ZIP_DEFLATED) as z:
    for root, _, names in os.walk("."):
        for name in sorted(names):
            z.write(os.path.join(root, name), os.path.relpath(os.path.join(root, name)))
' | cat >../pypipe.zip)
  "$python" "$tools" unsign fd.zip unsigned.zip
  cp "$work/package.zip" comment.zip
  "$python" -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a") as z: z.comment = b"c" * 65535' comment.zip
  local name
  for name in fd unsigned fz pipe pypipe comment; do
    mkdir "$name"
    if ! "$zipgraft" "$stub" "$name.zip" "$name/SETUP42.exe" >"$name.log"; then
      cat "$name.log"
      fail "$name: zipgraft builds the package"
      continue
    fi
    pass "$name: zipgraft builds the package"
    expect "$name: unzip -t reads it whole" sh -c 'unzip -tqq "$0" >/dev/null' "$name/SETUP42.exe"
    expect "$name: 7-Zip reads it without a warning" sh -c \
      '7zz t "$0" >"$0.7z" && grep -q "Everything is Ok" "$0.7z" && ! grep -qE "WARNING|Characteristics" "$0.7z"' \
      "$name/SETUP42.exe"
    expect "$name: Python reads it whole" "$python" -c \
      'import sys, zipfile; assert zipfile.ZipFile(sys.argv[1]).testzip() is None' "$name/SETUP42.exe"
    reads_as_unzip "$name" "$name/SETUP42.exe"
  done
}

# reads_as_unzip NAME PACKAGE: --list and --extract (into NAME/out) give what
# unzip gives.
reads_as_unzip() {
  local name=$1 pkg=$2
  mkdir -p "$name"
  sfx "$name-list" "$pkg" --list
  unzip_members "$pkg" >"$name-unzip.txt"
  sfx_members "$name-list.out" >"$name-sfx.txt"
  expect "$name: --list shows what unzip -l shows" sh -c \
    '[ "$0" = 0 ] && diff "$1" "$2"' "$rc" "$name-unzip.txt" "$name-sfx.txt"
  sfx "$name-extract" "$pkg" --extract "$name/out"
  mkdir "$name/ref" && unzip -qq -d "$name/ref" "$pkg"
  expect "$name: --extract gives the files unzip gives" sh -c \
    '[ "$0" = 0 ] && diff -r "$1/ref" "$1/out"' "$rc" "$name"
}

# ZIP64 packages, read as unzip reads them: name, then how zip_tools.py makes
# them ("append" from the fresh stub, "zip64ify" from the example package).
zip64_read_cases=(
  "force append force"              # ZIP64 extras in the local headers only
  "all zip64ify usize,csize,offset" # every field a placeholder, the extra behind another block
  "offset zip64ify offset"          # an extra holding the offset alone
  "csize zip64ify csize"            # ... the compressed size alone
)
# Damaged ZIP64 records (of the "all" package): damage, exit status, and what
# the stub says. Status 2 refuses the package, 3 fails the one member.
zip64_damage_cases=(
  "no-locator|2|calls for a missing ZIP64 end record"
  "locator-into-data|2|ZIP64 end record does not end where its locator begins"
  "locator-before|2|ZIP64 locator points at no ZIP64 end record"
  "locator-past|2|ZIP64 locator points at no ZIP64 end record"
  "record-not-at-locator|2|ZIP64 end record does not end where its locator begins"
  "count-disagrees|2|ZIP64 end record disagrees with its end record"
  "count-huge|2|central directory cannot hold the members it counts"
  "count-over|2|central directory is damaged"
  "directory-moved|2|central directory does not end where its ZIP64 end record begins"
  "extra-short|3|readme.txt: its ZIP64 extra field lacks a size or offset"
  "extra-past|3|readme.txt: its ZIP64 extra field lacks a size or offset"
  "size-past|3|readme.txt: its data runs past the end of the archive"
)

zip64_package() { # NAME HOW...: the package of a read case, as NAME.exe
  local name=$1 how=$2
  shift 2
  if [ "$how" = append ]; then
    "$python" "$tools" append "$stub" "$name.exe" "$@"
  else
    cp "$package" "$name.exe" && "$python" "$tools" zip64ify "$name.exe" "$@"
  fi
}

group_zip64() {
  enter
  local row name status says
  for row in "${zip64_read_cases[@]}"; do
    # shellcheck disable=SC2086  # the row's words are the arguments
    zip64_package $row
    name=${row%% *}
    expect "$name: unzip -t and Python read the package whole" sh -c \
      'unzip -tqq "$1.exe" >/dev/null && "$0" -c "import sys, zipfile
assert zipfile.ZipFile(sys.argv[1]).testzip() is None" "$1.exe"' "$python" "$name"
    reads_as_unzip "$name" "$name.exe"
  done
  sfx version all.exe --version
  sfx classic-version "$package" --version
  expect "--version shows the same strings in a ZIP64 package" sh -c \
    '[ "$0" = 0 ] && diff version.out classic-version.out' "$rc"
  sfx describe all.exe
  expect "without arguments it counts the members of a ZIP64 package" \
    grep -q "carries $(unzip_members all.exe | wc -l) members" describe.out
  # More than 65,535 members: listed here, extracted in the large group.
  zip64_package many append many 66000
  sfx many-list many.exe --list
  unzip_members many.exe >many-unzip.txt
  sfx_members many-list.out >many-sfx.txt
  expect "many: --list shows the 66,000 members unzip -l shows" sh -c \
    '[ "$0" = 0 ] && [ "$(wc -l <"$1")" = 66000 ] && diff "$1" "$2"' "$rc" many-unzip.txt many-sfx.txt
  rm many.exe

  mkdir good && unzip -qq -d good all.exe
  for row in "${zip64_damage_cases[@]}"; do
    IFS='|' read -r name status says <<<"$row"
    cp all.exe "$name.exe" && "$python" "$tools" damage "$name.exe" "$name"
    sfx "$name" "$name.exe" --extract "$name"
    if [ "$status" = 2 ]; then
      expect "$name: refused ($says), nothing written" sh -c \
        '[ "$0" = 2 ] && grep -q "^error: .*$1" "$2.err" && [ ! -e "$2" ]' "$rc" "$says" "$name"
    else
      expect "$name: that member fails ($says), the others come out whole" sh -c \
        '[ "$0" = 3 ] && grep -q "^error: $1" "$2.err" && [ -z "$(find "$2" -name "*.part")" ] &&
         diff -r -x readme.txt good "$2" && [ ! -e "$2/readme.txt" ]' "$rc" "$says" "$name"
    fi
  done
}

# writer_archive KIND OUT.zip: the example package's files as a real ZIP64
# writer archives them (with the files unzip extracts from the example archive).
# shellcheck disable=SC2035  # the names globbed start with letters
writer_archive() {
  local kind=$1 out=$2 files=$2-files
  mkdir "$files" && unzip -qq -d "$files" "$work/package.zip"
  case $kind in
    python) # allowZip64, and force_zip64 on small members
      (cd "$files" && "$python" -c '
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, allowZip64=True) as z:
    for name in sorted(os.listdir(".")):
        with open(name, "rb") as f, z.open(name, "w", force_zip64=name != "SETUP42.xml") as m:
            m.write(f.read())' "$out") ;;
    bsdtar) (cd "$files" && bsdtar --format zip -cf "$out" *) ;;
    many) # Info-ZIP, 70,000 files more, a thousand a folder (Wine looks through a
      # folder's names for each file it creates there)
      "$python" -c 'import os, sys
for i in range(70000):
    os.makedirs("%s/many/%02d" % (sys.argv[1], i // 1000), exist_ok=True)
    open("%s/many/%02d/%05d.txt" % (sys.argv[1], i // 1000, i), "w").write("member %d\n" % i)' \
          "$files" &&
        (cd "$files" && zip -q -r -X "$out" .) ;;
    big) # Info-ZIP, stored, a sparse file of 4 GiB + 12,345 bytes
      truncate -s $(((1 << 32) + 12345)) "$files/huge.bin" &&
        (cd "$files" && zip -q -0 -X "$out" huge.bin *.xml *.cfg) ;;
  esac
  rm -rf "$files"
}

# writer_package NAME KIND: NAME/SETUP42.exe, built by zipgraft from the fresh
# stub and writer_archive's archive (removed again).
writer_package() {
  local name=$1
  mkdir "$name"
  writer_archive "$2" "$PWD/$name.zip"
  if "$zipgraft" "$stub" "$name.zip" "$name/SETUP42.exe" >"$name.log" 2>&1; then
    pass "$name: zipgraft builds the package from the ZIP64 archive"
  else
    cat "$name.log"
    fail "$name: zipgraft builds the package from the ZIP64 archive"
  fi
  rm -f "$name.zip"
}

# Packages zipgraft builds from real writers' ZIP64 archives (those of more
# than 4 GiB or 65,535 members are in the large group).
group_writers64() {
  enter
  local name
  for name in python bsdtar; do
    writer_package "$name" "$name"
    reads_as_unzip "$name" "$name/SETUP42.exe"
  done
}

# More than 4 GiB and more than 65,535 members (label "large"): a stored
# member of 4 GiB + 300 bytes, sparse, with a member behind it at an offset
# past 4 GiB; Info-ZIP's archives of 70,000 files and of a 4 GiB file.
group_large() {
  enter
  local size=$(((1 << 32) + 300))
  "$python" "$tools" big "$stub" big.exe "$size"
  sfx big-list big.exe --list
  unzip_members big.exe >big-unzip.txt
  sfx_members big-list.out >big-sfx.txt
  expect "big: --list shows what unzip -l shows" sh -c \
    '[ "$0" = 0 ] && diff "$1" "$2"' "$rc" big-unzip.txt big-sfx.txt
  # The stub checks the CRC-32 of all 4 GiB; unzip is asked only for what it
  # reads quickly (a second pass over 4 GiB would double the test's time).
  sfx big-extract big.exe --extract big
  expect "big: --extract writes both members, CRC-32 checked" sh -c \
    '[ "$0" = 0 ] && [ "$(stat -c %s big/big.bin)" = "$1" ] &&
     unzip -p big.exe after.txt | cmp - big/after.txt' "$rc" "$size"
  expect "big: the marks lie where they were written" "$python" -c '
import sys
sys.path.insert(0, sys.argv[1])
import zip_tools
with open("big/big.bin", "rb") as f:
    for at, mark in zip_tools.big_marks(int(sys.argv[2])):
        f.seek(at)
        assert f.read(len(mark)) == mark, at' "$src/tests/sfx" "$size"
  rm -rf big big.exe
  # Info-ZIP's own ZIP64 archives: 70,000 files more, and a stored sparse file
  # of 4 GiB + 12,345 bytes with the example's files behind it.
  writer_package zip-many many
  reads_as_unzip zip-many zip-many/SETUP42.exe
  rm -rf zip-many
  writer_package zip-big big
  sfx zip-big-list zip-big/SETUP42.exe --list
  unzip_members zip-big/SETUP42.exe >zip-big-unzip.txt
  sfx_members zip-big-list.out >zip-big-sfx.txt
  expect "zip-big: --list shows what unzip -l shows" sh -c \
    '[ "$0" = 0 ] && diff "$1" "$2"' "$rc" zip-big-unzip.txt zip-big-sfx.txt
  sfx zip-big-extract zip-big/SETUP42.exe --extract zip-big/out
  expect "zip-big: --extract writes the 4 GiB file, CRC-32 checked, and the files behind it" \
    sh -c '[ "$0" = 0 ] && [ "$(stat -c %s "$1/huge.bin")" = "$2" ] &&
      cmp -n "$2" "$1/huge.bin" /dev/zero && for f in "$1"/*.xml "$1"/*.cfg; do
        unzip -p "$3" "${f##*/}" | cmp - "$f" || exit 1; done' \
    "$rc" zip-big/out $(((1 << 32) + 12345)) zip-big/SETUP42.exe
  rm -rf zip-big
}

verify_signature() {
  osslsigncode verify -CAfile cert.pem -in signed/SETUP42.exe >verify.log 2>&1
}

group_signed() {
  command -v osslsigncode >/dev/null || skip "osslsigncode is not installed"
  enter
  openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=zipgraft sfx test" 2>/dev/null
  mkdir signed
  osslsigncode sign -certs cert.pem -key key.pem -n "sfx test" \
    -in "$package" -out signed/SETUP42.exe >sign.log
  expect "osslsigncode verifies the signed package" verify_signature
  expect "the signature lies behind the archive" sh -c '! "$0" "$1" tail-is-end signed/SETUP42.exe' \
    "$python" "$tools"
  mkdir again
  "$zipgraft" signed/SETUP42.exe "$work/package.zip" again/SETUP42.exe >zipgraft.log || true
  expect "zipgraft still loads it as a package" grep -q "the stub already has a .zip payload" zipgraft.log
  sfx list signed/SETUP42.exe --list
  expect "the signed package lists its members" \
    diff <(unzip_members "$package") <(sfx_members list.out)
  sfx extract signed/SETUP42.exe --extract out
  mkdir ref && (cd ref && unzip -q "$package")
  expect "the signed package extracts them" sh -c '[ "$0" = 0 ] && diff -r ref out' "$rc"
}

group_cleanup() {
  wine --wait
}
