#!/usr/bin/env bash
# The Debian package as a user gets it: built with cpack from the build folder, unpacked into a temporary
# root, its transcribe-many run on a LibriVox clip with no TAVRIK_ASR (so that it must find its helper and the
# unpacked tavrik-asr by itself), its versions, its manual pages read by man, and its Depends checked against
# the libraries each binary links and the commands the batch script runs.
#
#   package_test.sh BUILD_DIR VERSION MODEL_DIR TESTDATA_DIR
# "check && check || fail" is meant: fail when either check does.
# shellcheck disable=SC2015
set -euo pipefail

build=$(realpath "$1") version=$2 model=$3 data=$4

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
# shellcheck source=../shell_checks.sh
source "$(dirname "$0")/../shell_checks.sh"

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    exit 1
fi
deb=$(find "$work/package" -maxdepth 1 -name "tavrik-asr_${version}_*.deb")
[[ -f "$deb" ]] || { echo "FAIL: no tavrik-asr_${version}_*.deb in $(ls "$work/package")" >&2 && exit 1; }
root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"

# The programs, their versions and their pages.
[[ "$(cd "$bin" && echo *)" == "tavrik-asr tavrik-words transcribe-many" ]] || fail "programs: $(cd "$bin" && echo *)"
for program in tavrik-asr tavrik-words transcribe-many; do
    if [[ $program != tavrik-asr ]]; then # the tool's command line has no --version: the package's own says it
        [[ "$("$bin/$program" --version 2>&1)" == "$program $version" ]] || fail "$program --version: $("$bin/$program" --version 2>&1)"
    fi
    page="$root/usr/share/man/man1/$program.1.gz"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$work/man.err" || true)
    [[ "$text" == *"SYNOPSIS"*"OPTIONS"*"EXIT STATUS"*"FILES"*"EXAMPLES"* && ! -s "$work/man.err" ]] ||
        fail "man -l $program.1.gz: $(cat "$work/man.err")"
done
[[ -f "$root/usr/share/doc/tavrik-asr/README.md" && -f "$root/usr/share/doc/tavrik-asr/copyright" ]] ||
    fail "no README or copyright in usr/share/doc/tavrik-asr"

# The installed batch command on one clip: its helper and the tool are found beside it.
mkdir "$work/in"
cp "$data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav" "$work/in/clip.wav"
status=0
env -u TAVRIK_ASR "$bin/transcribe-many" "$work/in" "$work/out" --jobs 1 --model "$model" >"$work/run.out" \
    2>"$work/run.err" || status=$?
((status == 0)) && grep -qs '^{"words":\[{"text":"He","start":0\.2' "$work/out/clip.json" ||
    fail "transcribe-many: status $status, $(cat "$work/run.out" "$work/run.err" "$work/out/clip.error.json" 2>&1)"

# Depends names the package of every library a binary links, and of the commands the batch script runs;
# Recommends those it runs only for some recordings.
depends=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[|,]/\n/g; s/ //g')
recommends=$(dpkg-deb -f "$deb" Recommends | sed 's/([^)]*)//g; s/[|,]/\n/g; s/ //g')
# The Debian package that holds `$1`, also when the path is given through the /lib link of a merged /usr.
package_of() {
    local path=$1 found
    for candidate in "$path" "$(realpath "$path")" "${path/#\/lib\//\/usr\/lib\/}" "${path/#\/usr\/lib\//\/lib\/}"; do
        # Lines "diversion by ..." say who moved a file, not who holds it.
        if found=$(dpkg -S "$candidate" 2>/dev/null | grep -v '^diversion by' | head -n 1) && [[ -n "$found" ]]; then
            printf '%s' "${found%%:*}"
            return 0
        fi
    done
    return 1
}
checked=0
for binary in "$bin/tavrik-asr" "$bin/tavrik-words"; do
    while read -r library; do
        path=$(ldd "$binary" | awk -v l="$library" '$1 == l { print $3 }')
        package=$(package_of "$path") || { fail "ldd: no package holds $library ($path)" && continue; }
        grep -qx "$package" <<<"$depends" || fail "Depends lacks $package, which holds $library that ${binary##*/} links"
        checked=$((checked + 1))
    done < <(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done
((checked >= 8)) || fail "only $checked linked libraries were checked"
for command in parallel soxi ffmpeg; do
    package=$(package_of "$(command -v "$command")") || { fail "no package holds $command" && continue; }
    list=$depends
    [[ "$command" != ffmpeg ]] || list=$recommends
    grep -qx "$package" <<<"$list" || fail "the package $package of $command is not in Depends (or Recommends for ffmpeg)"
done

if ((failures > 0)); then
    echo "$failures checks failed" >&2
    exit 1
fi
echo "all checks passed: $(basename "$deb"), $(stat -c %s "$deb") bytes, Depends: $(dpkg-deb -f "$deb" Depends)"
