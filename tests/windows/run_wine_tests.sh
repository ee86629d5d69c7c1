#!/usr/bin/env bash
# KAVEL.8bi for 32- and 64-bit Windows under Wine: plugin-host.exe of each architecture lists
# and registers its module from the property list resource, shows the about box, opens grey
# and colour files of odd sizes through the real viewer dialog (confirmed with its initial
# values: scale 2, the 640 x 480 crop cut to the image) and delivers exactly what
# `kavel decode` gives for the same window and scale; cancelling delivers nothing; the fault
# options of the host end the read as the Linux host's do.
#
# Usage: tests/windows/run_wine_tests.sh WINDOWS_BUILD_ROOT LINUX_BUILD
#   WINDOWS_BUILD_ROOT as built by scripts/build-windows.sh (x86/ and x64/ in it, and the
#   Wine prefix unless WINEPREFIX is set); LINUX_BUILD holds tools/kavel and host/plugin-host.
# Runs under its own X server (xvfb-run) when none is given.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
windows=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
if [[ -z "${KAVEL_WINE_DISPLAY:-}" ]]; then
    exec env KAVEL_WINE_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
export WINEPREFIX=${WINEPREFIX:-$windows/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
source "$here/../../scripts/wine-env.sh"
# The architectures whose programs run here (both modules' files are checked either way).
run_archs="x86 x64"
if [[ $wine_x86 == 0 ]]; then
    run_archs="x64"
    echo "NOT RUN: this machine runs no 32-bit x86 programs (its kernel refuses them), so the"
    echo "32-bit plugin-host.exe and KAVEL.8bi are built and their files checked, but not run"
fi
kavel=$linux/tools/kavel
linux_host=$linux/host/plugin-host
work=$(mktemp -d)
# One server for the whole run keeps every start of a program short. Its helper processes
# start with the first program: that one runs with its output away from any pipe the
# script reads to its end (they would hold it open).
wineserver -p
"$wine" "$windows/x64/plugin-host.exe" --help > /dev/null 2>&1 < /dev/null
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

# Pictures of odd sizes: grey 1237 x 1031 (2 x 2 tiles at scale 2), colour 1093 x 781 (2 x 1 tiles).
/usr/bin/python3 "$here/make_picture.py" "$work/grey.pgm" 1237 1031 1
/usr/bin/python3 "$here/make_picture.py" "$work/colour.ppm" 1093 781 3
"$kavel" encode "$work/grey.pgm" "$work/grey.kvl" > /dev/null
"$kavel" encode "$work/colour.ppm" "$work/colour.kvl" > /dev/null
printf 'not a Kavel file' > "$work/broken.kvl"

objcopy -O binary --only-section=.pipl "$linux/plugins/KAVEL.8bi" "$work/linux.pipl"

# The module files themselves: one export, system imports only, the resources.
system_dlls='^(KERNEL32|USER32|GDI32|COMCTL32|msvcrt)\.dll$'
for arch in x86 x64; do
    module="$windows/$arch/plugins/KAVEL.8bi"
    headers=$(objdump -p "$module")
    exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<< "$headers" | grep -c '\[ *[0-9]*\]' || true)
    if [[ $exports != 1 || $headers != *"[   0] +base[   1]"* || $headers != *"[   0] ENTRYPOINT"* ||
          $(grep -E '^Name[[:space:]]' <<< "$headers") != *"KAVEL.8bi" ]]; then
        fail "$arch exports: $(sed -n '/Export Tables/,/^$/p;/Ordinal\/Name Pointer/,/^$/p' <<< "$headers")"
    else
        pass "$arch exports ENTRYPOINT alone, ordinal 1, module name KAVEL.8bi"
    fi
    for file in "$module" "$windows/$arch/plugin-host.exe"; do
        imports=$(objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
        foreign=$(grep -viE "$system_dlls" <<< "$imports" || true)
        [[ -z $foreign ]] && pass "$arch $(basename "$file") imports system DLLs only:" $imports ||
            fail "$arch $(basename "$file") imports $foreign"
    done
    key=wx86
    [[ $arch == x64 ]] && key=8664
    out=$(/usr/bin/python3 "$here/resource_check.py" "$module" "$work/linux.pipl" $key) &&
        pass "$arch $out" || fail "$arch $out"
done

cd "$work"
for arch in $run_archs; do
    other=x64
    [[ $arch == x64 ]] && other=x86
    host="$windows/$arch/plugin-host.exe"
    plugins="$windows/$arch/plugins"
    cp -r "$plugins" "$work/plugins-$arch"
    plugins="plugins-$arch"

    out=$("$wine" "$host" list "$plugins" 2>&1) || fail "$arch list: exit $?: $out"
    for expected in 'KAVEL.8bi' '8BIF (file format)' 'name          Kavel' 'ENTRYPOINT' \
        'extensions    kvl' 'can read' '32767 rows x 32767 columns'; do
        [[ $out == *"$expected"* ]] || fail "$arch list lacks '$expected': $out"
    done
    pass "$arch list"
    # A host of the other architecture finds no entry point for itself in the list (the 64-bit
    # host checks the 32-bit module where 32-bit programs cannot run).
    for pair in "$other $arch" "$arch $other"; do
        read -r host_arch module_arch <<< "$pair"
        [[ $run_archs == *"$module_arch"* && $pair == "$arch $other" ]] && continue
        [[ $run_archs != *"$host_arch"* ]] && continue
        if out=$("$wine" "$windows/$host_arch/plugin-host.exe" list \
            "$windows/$module_arch/plugins/KAVEL.8bi" 2>&1); then
            fail "$host_arch host registered the $module_arch module: $out"
        else
            [[ $out == *refused* ]] && pass "$host_arch host refuses the $module_arch module" ||
                fail "$host_arch host: $out"
        fi
    done

    out=$(KAVEL_DIALOG_ANSWER=accept "$wine" "$host" about "$plugins/KAVEL.8bi" 2>&1) ||
        fail "$arch about: $out"
    [[ $out == *"Brindle Kavel Plugin v1.0"* ]] && pass "$arch about" || fail "$arch about: $out"

    for picture in grey colour; do
        extension=pgm
        [[ $picture == colour ]] && extension=ppm
        result="$picture-$arch.$extension"
        if out=$("$wine" "$host" open "$picture.kvl" -o "$result" --plugins "$plugins" --accept 2>&1); then
            match=$(/usr/bin/python3 "$here/window_match.py" "$kavel" "$picture.kvl" any "$result") &&
                pass "$arch open $picture --accept: $match" ||
                fail "$arch open $picture: $match"
        else
            fail "$arch open $picture --accept: $out"
        fi
    done

    rm -f cancelled.pgm
    if out=$("$wine" "$host" open grey.kvl -o cancelled.pgm --plugins "$plugins" --cancel 2>&1); then
        fail "$arch --cancel succeeded: $out"
    elif [[ -e cancelled.pgm ]]; then
        fail "$arch --cancel wrote a picture"
    else
        pass "$arch --cancel delivers nothing"
    fi

    # Faults: the same exit status and the same verdict as the Linux host.
    for fault in "--no-buffer-suite" "--buffer-suite-version 3" "--fail-allocation" \
        "--fail-advance-at 1" "--fail-advance-at 3"; do
        # shellcheck disable=SC2086
        windows_out=$("$wine" "$host" open grey.kvl -o fault.pgm --plugins "$plugins" --accept \
            $fault 2>&1) && windows_status=0 || windows_status=$?
        # shellcheck disable=SC2086
        linux_out=$(env -u DISPLAY QT_QPA_PLATFORM=offscreen "$linux_host" open grey.kvl \
            -o fault.png --plugins "$linux/plugins" --accept $fault 2>&1) && linux_status=0 ||
            linux_status=$?
        verdict() { grep -o 'plugin-host: grey.kvl: .*' <<< "$1" | tr -d '\r' || true; }
        if [[ $windows_status != "$linux_status" || "$(verdict "$windows_out")" != "$(verdict "$linux_out")" ||
              -e fault.pgm ]]; then
            fail "$arch $fault: Windows ($windows_status) '$(verdict "$windows_out")'," \
                 "Linux ($linux_status) '$(verdict "$linux_out")'"
        else
            pass "$arch $fault: exit $windows_status, $(verdict "$windows_out")"
        fi
    done

    if out=$("$wine" "$host" open broken.kvl -o broken.pgm --plugins "$plugins" --accept 2>&1); then
        fail "$arch opened a broken file"
    else
        [[ $out == *"This type of image is not supported, sorry."* ]] &&
            pass "$arch broken file: the unsupported-type message" || fail "$arch broken: $out"
    fi
done

if ((failures > 0)); then
    echo "$failures Windows test(s) failed"
    exit 1
fi
echo "All Windows tests passed"
