#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses it there as a user would: the layout,
# the installed tallyra-cli on files made by other tools, and the installed window, started
# as a file manager starts it (/C on an SFV file, "Unrar after SFV" on), extracting a
# three-volume set through its UnRar page. Both faces must find their private libunrar.so
# beside the prefix, with no help from LD_LIBRARY_PATH.
# Usage: test_install.sh BUILD_DIR LAYOUT_LIST TESTDATA DIALOG_DRIVER VERSION
set -uo pipefail
build=$1 layout=$2 testdata=$3 driver=$4 version=$5

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallyra-install-XXXXXX")
trap 'chmod -R u+w "$scratch"; rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
unset LD_LIBRARY_PATH
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
mkdir -p "$HOME"

if ! cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "FAILED: cmake --install"
  exit 1
fi

# The layout: exactly the listed files, nothing more.
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$scratch/installed.txt"
diff -u "$layout" "$scratch/installed.txt" || fail "the installed files differ from $layout"

cli=$prefix/bin/tallyra-cli
out=$("$cli" --version)
[ "$out" = "tallyra-cli $version" ] || fail "tallyra-cli --version printed '$out'"

# The metadata's newest release and the manual pages name the version being installed
# (without the build number).
release=$(grep -o '<release version="[^"]*"' "$prefix/share/metainfo/org.example.tallyra.metainfo.xml" |
          head -n 1 | cut -d'"' -f2)
[ "$release" = "${version%.*}" ] || fail "metainfo names release '$release', the build is $version"
for page in tallyra tallyra-cli; do
  grep -q "^\.TH .* \"Tallyra ${version%.*}\"" "$prefix/share/man/man1/$page.1" ||
    fail "the manual page $page.1 does not name Tallyra ${version%.*}"
done

# The CLI on a set and an SFV file written by another tool.
mkdir -p "$scratch/set"
cp "$testdata"/sfv/set/* "$testdata/sfv/by-cksfv.sfv" "$scratch/set/"
chmod -R u+w "$scratch/set"
"$cli" check "$scratch/set/by-cksfv.sfv" >"$scratch/check.log" 2>&1 ||
  { cat "$scratch/check.log"; fail "tallyra-cli check of by-cksfv.sfv"; }

# The CLI extracts a compressed, solid archive: it found the library.
cp "$testdata/rar/rarfile/rar3-solid.rar" "$scratch/"
chmod u+w "$scratch/rar3-solid.rar"
"$cli" unrar --no-prompt "$scratch/rar3-solid.rar" "$scratch/solid" >"$scratch/unrar.log" 2>&1 ||
  { cat "$scratch/unrar.log"; fail "tallyra-cli unrar of rar3-solid.rar"; }
printf 'stest1.txt C5B7E6A2\r\nstest2.txt C5B7E6A2\r\n' >"$scratch/solid/solid.sfv"
"$cli" check "$scratch/solid/solid.sfv" >"$scratch/solid.log" 2>&1 ||
  { cat "$scratch/unrar.log" "$scratch/solid.log"; fail "files extracted by tallyra-cli unrar"; }

# The window: an SFV named like the set's first volume, checked with /C, hands the set to
# the UnRar page; the driver accepts the proposed target folder and closes the window.
mkdir -p "$scratch/vols" "$XDG_CONFIG_HOME/tallyra"
cp "$testdata"/rar/rarfile/rar3-old.{rar,r00,r01} "$scratch/vols/"
chmod u+w "$scratch"/vols/*
(cd "$scratch/vols" && "$cli" create --rule custom:rar3-old rar3-old.rar rar3-old.r00 rar3-old.r01) \
  >"$scratch/create.log" 2>&1 || { cat "$scratch/create.log"; fail "tallyra-cli create for the set"; }
printf '[Options]\r\nUnrarAfterSFV=1\r\n' >"$XDG_CONFIG_HOME/tallyra/tallyra.ini"
ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$driver QT_QPA_PLATFORM=offscreen \
  timeout 300 "$prefix/bin/tallyra" /C "$scratch/vols/rar3-old.sfv" >"$scratch/window.log" 2>&1
status=$?
[ "$status" = 0 ] || fail "the installed window exited with status $status"
grep -qx 'label: Extracted 2 files' "$scratch/window.log" || fail "the window did not extract the set's 2 files"
printf 'vols/bigfile.txt 509AD74C\r\nvols/smallfile.txt D08A1F86\r\n' >"$scratch/vols/rar3-old/set.sfv"
"$cli" check "$scratch/vols/rar3-old/set.sfv" >"$scratch/extracted.log" 2>&1 ||
  { cat "$scratch/extracted.log"; fail "files extracted by the window"; }

# An installed copy keeps its settings in the configuration folder, even though the
# scratch prefix's bin folder is writable (as /usr/bin is for root).
grep -q '^CompressionLevel=3' "$XDG_CONFIG_HOME/tallyra/tallyra.ini" ||
  fail "the window did not write its settings to \$XDG_CONFIG_HOME/tallyra/tallyra.ini"
[ ! -e "$prefix/bin/tallyra.ini" ] || fail "the installed window wrote tallyra.ini into its bin folder"

if [ "$failures" != 0 ]; then
  echo "--- window output"
  cat "$scratch/window.log"
  exit 1
fi
echo "installed copy works: layout, tallyra-cli check and unrar, the window's UnRar page"
