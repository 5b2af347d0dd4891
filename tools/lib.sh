# Shared by tools/test and tools/demo: install what is missing, build, and
# prepare the build's own Wine prefix.
#
# The product is the 32-bit DLL (build/bin).  It runs under 32-bit Wine where
# the kernel runs 32-bit programs.  Some kernels (sandboxes among them) do
# not; there the same sources are also built for 64-bit Windows
# (build/x86_64/bin) and that twin runs under 64-bit Wine, so the plug-in's
# behaviour is still tested against real Win32.  The 32-bit DLL's own face
# (exports, imports, record layout) is then checked from its file.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
export WINEDEBUG=-all

# ffmpeg reads RealAudio titles independently of the plug-in (tools/crosscheck-media).
# libgtest-dev: GoogleTest built natively, for the pure logic's tests (tools/native-tests).
PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix cmake ninja-build googletest libgtest-dev nsis
          wine wine64 wine32:i386 xvfb xauth clang-14 libclang-rt-14-dev python3 ffmpeg)

ensure_packages() {
    APT_LOG=$(mktemp)
    local rc=0
    install_missing || rc=$?
    rm -f "$APT_LOG" "${APT_PIN:-}"
    return $rc
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo dpkg --add-architecture i386 || return 1
    apt_update || return 1
    apt_install "${missing[@]}" && return 0
    local wants32=0 rest=()
    for p in "${missing[@]}"; do
        if [ "$p" = wine32:i386 ]; then wants32=1; else rest+=("$p"); fi
    done
    [ $wants32 -eq 1 ] && install_with_wine32 "${missing[@]}" && return 0
    # Everything but the 32-bit loader must install.
    [ ${#rest[@]} -eq 0 ] || apt_install "${rest[@]}" || {
        echo "Could not install: ${rest[*]}" >&2
        grep -E '^E:' "$APT_LOG" | head -3 >&2
        return 1
    }
    [ $wants32 -eq 0 ] || echo "wine32:i386 could not be installed (${WHY32:-see apt-get install wine32:i386}):"\
        "the 32-bit DLL will be checked from its file but not run"
    return 0
}

apt_install() {
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq ${APT_OPTS:-} "$@" >"$APT_LOG" 2>&1
}

# A mirror being synced serves an index out of step with its release file
# for hours.  Try again a few times, then go on with what was fetched; the
# suites whose index failed are kept in FAILED_SUITES.  With no index at all
# (no network) nothing can be installed, and that is said and fails.
FAILED_SUITES=""
apt_update() {
    local sudo="" try
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    for try in 1 2 3 4; do
        $sudo apt-get update -qq >"$APT_LOG" 2>&1 && { FAILED_SUITES=""; return 0; }
        FAILED_SUITES=$(grep -oE 'Failed to fetch [^ ]*' "$APT_LOG" |
                        sed -nE 's|.*/dists/([^/]+)/([^/]+)/binary-([^/]+)/.*|\1 \3|p' | sort -u)
        [ "$try" -lt 4 ] && sleep "${APT_RETRY_PAUSE:-15}"
    done
    if [ -z "$(ls /var/lib/apt/lists/ 2>/dev/null | grep _Packages)" ]; then
        echo "apt-get update fetched no package index:" >&2
        grep -E '^(E|W):' "$APT_LOG" | head -5 >&2
        return 1
    fi
    echo "apt-get update failed for some indexes ($(echo $FAILED_SUITES | tr '\n' ' ')); going on with what was fetched"
}

# wine32:i386 needs its 32-bit libraries at exactly the versions of their
# 64-bit twins.  When a suite's i386 index is missing, the 64-bit side takes
# that suite's newer versions and the two cannot meet.  For this run only,
# that suite is preferred no more than what is installed, so both
# architectures take the versions they can both have (an installed 64-bit
# library may be upgraded to meet its twin, never downgraded).  If they
# still cannot meet, the tools test the 64-bit twin instead.
install_with_wine32() {
    local suites
    suites=$(echo "$FAILED_SUITES" | awk '$2 == "i386" {print $1}' | sort -u)
    if [ -n "$suites" ]; then
        APT_PIN=$(mktemp)
        for s in $suites; do
            printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$s" >>"$APT_PIN"
        done
        echo "The i386 index of $(echo $suites) is missing: installing with the versions both architectures have" \
             "(not that suite's newer ones), for this run only"
        APT_OPTS="-o Dir::Etc::Preferences=$APT_PIN" apt_install "$@" && return 0
    fi
    WHY32=$(apt-get install -s ${APT_PIN:+-o Dir::Etc::Preferences=$APT_PIN} "$@" 2>&1 |
            grep -E "^ .*:i386 : Depends: .*but" | sed -E 's/^ +//; s/ +/ /g' | head -2 | paste -sd ';' -)
    return 1
}

# Wine takes its locale from the system's: the Korean cases need ko_KR.
ensure_korean_locale() {
    locale -a 2>/dev/null | grep -qi '^ko_KR.utf8$' && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    dpkg-query -W -f='${Status}' locales 2>/dev/null | grep -q "ok installed" ||
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq locales >/dev/null
    $sudo localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
}

# True when this kernel runs 32-bit programs natively (and so 32-bit Wine).
runs_32bit() {
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || return 1
    # qemu's user-mode emulation would answer the test but cannot carry Wine.
    [ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && return 1
    return 0
}

has_wine32() {
    dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "ok installed"
}

configure_wine() {
    if runs_32bit && has_wine32; then
        RUN_BUILD=$BUILD
        export WINEARCH=win32
        WINE=wine
    else
        RUN_BUILD=$BUILD/x86_64
        export WINEARCH=win64
        export WINELOADER=/usr/lib/wine/wine64
        WINE=/usr/lib/wine/wine64
    fi
    export WINEPREFIX=$RUN_BUILD/wineprefix
}

cmake_build() {
    local dir=$1 toolchain=$2
    cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" >/dev/null
    cmake --build "$dir"
}

build_all() {
    configure_wine
    cmake_build "$BUILD" mingw-i686.cmake
    if [ "$RUN_BUILD" != "$BUILD" ]; then
        if runs_32bit; then
            echo "32-bit Wine is not installed: testing the 64-bit twin under 64-bit Wine; the 32-bit DLL is not run"
        else
            echo "This kernel runs no 32-bit programs: testing the 64-bit twin under 64-bit Wine"
        fi
        cmake_build "$RUN_BUILD" mingw-x86_64.cmake
    fi
}

# A fresh prefix is slow to make, so it is made once per build directory.
ensure_prefix() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Creating Wine prefix $WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        wineserver -w || true
    fi
    disable_crash_debugger
    unmanaged_windows
}

# Xvfb runs no window manager: a window Wine hands to one waits, when it is
# hidden, two seconds for a manager that never answers.  The tests' windows
# are left unmanaged, as they would be on a desktop that answers at once.
unmanaged_windows() {
    grep -q '^"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null && return 0
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    wineserver -w || true
}

# A crashing test program would otherwise sit for minutes in Wine's debugger;
# with a debugger that cannot start, it ends at once with its exception.
# Both registry views: a 64-bit prefix keeps the 32-bit one under Wow6432Node.
AEDEBUG='Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
disable_crash_debugger() {
    local keys=("HKLM\\$AEDEBUG")
    [ "${WINEARCH:-win32}" = win64 ] && keys+=("HKLM\\Software\\Wow6432Node\\${AEDEBUG#Software\\}")
    local set
    set=$(grep -c '^"Debugger"="false"' "$WINEPREFIX/system.reg" 2>/dev/null || true)
    [ "${set:-0}" -ge ${#keys[@]} ] && return 0
    for key in "${keys[@]}"; do
        "$WINE" reg add "$key" /v Debugger /t REG_SZ /d false /f >/dev/null 2>&1 || true
        "$WINE" reg add "$key" /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1 || true
    done
    wineserver -w || true
}
