#!/usr/bin/env bash
# The installer as a user's machine runs it: silently, in a Wine prefix of
# its own that nothing else touched, against a stand-in Winamp folder (an
# empty winamp.exe and a plug-in that is not ours).
#
#   installer_test.sh WINE SETUP.EXE DLL INSTALLER_PROBE.EXE BUILD_DIR
#
# The fresh prefix is a copy of one that only wineboot made (kept in
# BUILD_DIR/installer-wineprefix, made on first use), so no other test's
# registry or files are in it.
set -uo pipefail
WINE=${1:?usage: installer_test.sh WINE SETUP.EXE DLL INSTALLER_PROBE.EXE BUILD_DIR}
SETUP=$2 DLL=$3 PROBE=$4 BUILD_DIR=$5
export WINEDEBUG=-all
# Nothing here needs Wine's .NET or HTML engines; without this, making a
# prefix would offer to download them.
export WINEDLLOVERRIDES="mscoree,mshtml="

passed=0 failed=0
check() {  # NAME GOT WANT
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL $1: got '$2', want '$3'"; fi
}
for f in "$SETUP" "$DLL" "$PROBE"; do
    [ -f "$f" ] || { echo "FAIL missing $f"; echo "installer: 0 passed, 1 failed"; exit 1; }
done

TEMPLATE=$BUILD_DIR/installer-wineprefix
if [ ! -f "$TEMPLATE/system.reg" ]; then
    WINEPREFIX=$TEMPLATE "$WINE" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$TEMPLATE wineserver -w
fi
RUN=$(mktemp -d)
cp -a "$TEMPLATE" "$RUN/prefix"
export WINEPREFIX=$RUN/prefix
cleanup() {
    wineserver -k 2>/dev/null
    chmod -R u+w "$RUN" 2>/dev/null
    rm -rf "$RUN"
}
trap cleanup EXIT
wineserver -p

C=$WINEPREFIX/drive_c
wine_run() { "$WINE" "$@" </dev/null 2>/dev/null; }
probe() { wine_run "$PROBE" "$@" | tr -d '\r'; }
entry_value() { probe entry | sed -n "s/^$1=//p"; }
# Every file and folder under DIR with its size, to tell whether a run changed anything.
listing() { (cd "$1" && find . -printf '%p %s\n' | sort); }
# The uninstaller runs from a copy of itself in the temporary folder, so
# that it can delete itself; its first process ends at once.  Wait for it.
wait_gone() {
    for _ in $(seq 100); do
        [ ! -e "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

host="$C/Winamp Test"
mkdir -p "$host/Plugins"
: >"$host/winamp.exe"
printf 'not ours' >"$host/Plugins/in_mp3.dll"
host_before=$(listing "$host")
plugins="$host/Plugins"

# Found through HKCU\Software\Winamp (registered with a trailing separator),
# installed silently.
probe host cu 'C:\Winamp Test\'
wine_run "$SETUP" /S
check "install exit code" "$?" "0"
check "installed DLL is the built one" "$(cmp -s "$DLL" "$plugins/in_realmedia.dll" && echo same)" "same"
check "uninstaller written beside it" "$([ -f "$plugins/uninstall_in_realmedia.exe" ] && echo yes)" "yes"
version=$(probe version 'C:\Winamp Test\Plugins\in_realmedia.dll')
check "fixed file version" "$(echo "$version" | sed -n 's/^fixed=//p')" "1.6.0.0"
check "FileVersion string" "$(echo "$version" | sed -n 's/^FileVersion=//p')" "1.6.0.0"
check "ProductVersion string" "$(echo "$version" | sed -n 's/^ProductVersion=//p')" "1.6.0.0"
check "ProductName string" "$(echo "$version" | sed -n 's/^ProductName=//p')" "in_realmedia"
check "entry DisplayVersion" "$(entry_value DisplayVersion)" "1.6.0.0"
check "entry DisplayName" "$(entry_value DisplayName | cut -c1-19)" "in_realmedia 1.6.0 "
check "entry UninstallString" "$(entry_value UninstallString)" '"C:\Winamp Test\Plugins\uninstall_in_realmedia.exe"'
check "entry QuietUninstallString" "$(entry_value QuietUninstallString)" '"C:\Winamp Test\Plugins\uninstall_in_realmedia.exe" /S'
check "entry NoModify NoRepair" "$(entry_value NoModify) $(entry_value NoRepair)" "1 1"
size=$(entry_value EstimatedSize)
check "entry EstimatedSize in KiB covers the DLL" "$([ "${size:-0}" -ge $(($(stat -c %s "$DLL") / 1024)) ] && echo yes)" "yes"

# Found through the host's Add/Remove Programs entry; a second install
# writes over an older copy.
probe host cu -
probe host uninstall '"C:\Winamp Test\UninstWA.exe" /S'
printf 'an older build' >"$plugins/in_realmedia.dll"
wine_run "$SETUP" /S
check "reinstall exit code" "$?" "0"
check "reinstall replaced the DLL" "$(cmp -s "$DLL" "$plugins/in_realmedia.dll" && echo same)" "same"

# A running host holds the DLL: Setup and the uninstaller say so and fail
# (silently, Retry/Cancel is answered Cancel) instead of reporting success.
held=$RUN/host.log
"$WINE" "$BUILD_DIR/bin/hostsim.exe" play rtsp://media.example.com/long.rm --realtime --timeout 30000 \
    --plugin 'C:\Winamp Test\Plugins\in_realmedia.dll' --engine "length 60000; pace realtime" \
    </dev/null >"$held" 2>&1 &
host_pid=$!
for _ in $(seq 150); do
    grep -q '^outmod.open' "$held" && break
    sleep 0.1
done
check "host plays through the installed DLL" "$(grep -c '^outmod.open' "$held")" "1"
wine_run "$SETUP" /S
check "install over a DLL in use fails" "$(code=$?; [ "$code" -ne 0 ] && echo nonzero)" "nonzero"
check "DLL in use left as it was" "$(cmp -s "$DLL" "$plugins/in_realmedia.dll" && echo same)" "same"
# _?= runs the uninstaller in place, so its exit code is the uninstall's.
# Like /D= it must not be quoted, which Wine does to an argument with a
# space; through cmd it is passed as written.
(cd "$plugins" && wine_run cmd /c 'uninstall_in_realmedia.exe /S _?=C:\Winamp Test\Plugins')
check "uninstall of a DLL in use fails" "$(code=$?; [ "$code" -ne 0 ] && echo nonzero)" "nonzero"
check "uninstall kept DLL and entry" "$([ -f "$plugins/in_realmedia.dll" ] && entry_value DisplayVersion)" "1.6.0.0"
kill "$host_pid" 2>/dev/null
wait "$host_pid" 2>/dev/null

# The silent uninstaller removes what was installed and nothing else.
wine_run "$plugins/uninstall_in_realmedia.exe" /S
check "uninstaller exit code" "$?" "0"
wait_gone "$plugins/uninstall_in_realmedia.exe"
check "uninstaller removed itself" "$([ -e "$plugins/uninstall_in_realmedia.exe" ] || echo gone)" "gone"
check "DLL removed" "$([ -e "$plugins/in_realmedia.dll" ] || echo gone)" "gone"
probe entry >/dev/null
check "entry removed" "$?" "1"
check "host folder as it was" "$(listing "$host")" "$host_before"

# A folder that cannot be written: a non-zero exit and nothing left (its
# name has no space: Wine would quote the argument, and /D= must not be).  Root
# writes anywhere, so as root the installer runs in a user namespace where
# the folder's owner is unknown and root's rights do not reach it.  The
# wineserver opens files for its clients, so it runs in there too.
locked="$C/LockedWinamp"
mkdir -p "$locked/Plugins"
: >"$locked/winamp.exe"
locked_before=$(listing "$locked")
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 54321:54321 "$locked"
    as_user=(unshare --user --map-root-user)
fi
chmod -R a-w "$locked"
if [ ${#as_user[@]} -gt 0 ] && ! "${as_user[@]}" true 2>/dev/null; then
    echo "SKIP read-only folder: no user namespaces here, and root writes anywhere"
else
    wineserver -k; wineserver -w
    "${as_user[@]}" bash -c '"$0" "$1" /S "/D=C:\LockedWinamp" </dev/null 2>/dev/null; code=$?
                             wineserver -k; exit $code' "$WINE" "$SETUP"
    code=$?
    wineserver -p
    check "read-only folder fails" "$([ "$code" -ne 0 ] && echo nonzero)" "nonzero"
    check "read-only folder left as it was" "$(listing "$locked")" "$locked_before"
    probe entry >/dev/null
    check "read-only folder: no entry" "$?" "1"
fi

# A folder without winamp.exe: silently, nobody can be asked, so no install.
mkdir -p "$C/Empty"
wine_run "$SETUP" /S '/D=C:\Empty'
code=$?
check "folder without winamp.exe refused" "$([ "$code" -ne 0 ] && echo nonzero)" "nonzero"
check "folder without winamp.exe left empty" "$(ls -A "$C/Empty")" ""

echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
