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
PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix cmake ninja-build googletest nsis
          wine wine64 wine32:i386 xvfb xauth clang-14 libclang-rt-14-dev python3 ffmpeg)

ensure_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
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

configure_wine() {
    if runs_32bit; then
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
        echo "This kernel runs no 32-bit programs: testing the 64-bit twin under 64-bit Wine"
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
