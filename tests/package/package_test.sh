#!/usr/bin/env bash
# The Debian packages as a user gets them. CPack builds them into a scratch directory;
# dpkg-deb unpacks them into a scratch root (nothing is installed into this machine);
# the programs, the pkg-config files, a C program built through them, the manual pages
# and the bash completion are tried from there; lintian must find no error in them.
#
# usage: package_test.sh CPACK BUILD_DIR VERSION
set -euo pipefail
cpack=$1 build=$2 version=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect WHAT PATTERN TEXT: TEXT must match the extended regular expression PATTERN.
expect() {
    grep -Eq -- "$2" <<<"$3" || fail "$1: wanted /$2/, got: $3"
}

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack" >&2
    exit 1
}
root=$work/root
for package in libtevrolink1 libtevrolink-dialogs1 libtevrolink-dev meradon meradond tevrolink; do
    deb=$(compgen -G "$work/packages/${package}_${version}_*.deb" || true)
    if [ -z "$deb" ]; then
        fail "no package $package"
        continue
    fi
    dpkg-deb -x "$deb" "$root"
done
lib=$(dirname "$(find "$root" -name libtevrolink.so.1 -print -quit)")
bin=$root/usr/bin

# The programs start from the unpacked root, with its libraries.
export LD_LIBRARY_PATH=$lib
expect "meradon --version" "^meradon $version\$" "$("$bin/meradon" --version 2>&1)"
expect "tevrolink --help" "^usage: tevrolink " "$("$bin/tevrolink" --help 2>&1)"
expect "hostsim --help" "^usage: hostsim " "$("$bin/hostsim" --help 2>&1)"
expect "meradond --version" "^meradond $version\$" "$("$root/usr/sbin/meradond" --version 2>&1)"
expect "meradond's settings" "^#connect = " "$(grep connect "$root/etc/meradon/meradond.toml" 2>&1)"
expect "meradond's unit" "^Type=notify\$" "$(grep ^Type= "$root/lib/systemd/system/meradond.service" 2>&1)"
for program in meradon tevrolink; do
    expect "$program's link library" "libtevrolink\.so\.1 => $lib/" "$(ldd "$bin/$program")"
done

# A C program finds the header and both libraries through pkg-config alone.
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$lib/pkgconfig \
        pkg-config --cflags --libs tevrolink tevrolink-dialogs 2>&1) || fail "pkg-config: $flags"
expect "pkg-config" "-I$root/usr/include( |\$)" "$flags"
expect "pkg-config" "-ltevrolink-dialogs .*-ltevrolink( |\$)" "$flags"
cat >"$work/client.c" <<'C'
#include <stdio.h>
#include <tevrolink/tevrolink.h>

int main(void) {
    const uint8_t check[] = "123456789";
    int (*setup)(const char *, uint32_t *) = SetupCOMInterface2;
    printf("%04X %d %d\n", QuickCRC16(check, 9), IsShellActive(), setup != NULL);
    return 0;
}
C
# shellcheck disable=SC2086  # the flags are words
if cc -std=c11 -Wall -Werror "$work/client.c" -o "$work/client" $flags 2>"$work/cc.log"; then
    expect "C client" "^4B37 0 1\$" "$("$work/client" 2>&1)"
else
    fail "C client does not build: $(cat "$work/cc.log")"
fi

for page in man1/meradon.1 man1/tevrolink.1 man1/hostsim.1 man8/meradond.8; do
    expect "manual page $page" "^\.TH " "$(zcat "$root/usr/share/man/$page.gz" 2>&1 | head -1)"
done

# The completion, fed the command lines a user types, against the packaged program.
completions() {
    PATH=$bin:$PATH bash -c 'source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tevrolink tevrolink; echo "${COMPREPLY[*]}"' \
        completion "$root/usr/share/bash-completion/completions/tevrolink" tevrolink "$@" 2>&1
}
expect "completion of a command" "^flash-write flash-read\$" "$(completions fl)"
expect "completion after a link option" "^flash-write flash-read\$" "$(completions --port /dev/ttyS0 fl)"
expect "completion of a command's options" "--station" "$(completions --udp 127.0.0.1 flash-write image.bin --)"
expect "completion of a setting" "^peer power\$" "$(completions set p)"
expect "completion of a rate" "^115200\$" "$(completions --baud 11)"
expect "completion of settings' verbs" "^save load\$" "$(completions settings '')"
expect "completion of load's options" "--dry-run --force" "$(completions --udp 127.0.0.1 settings load p.json --)"
expect "completion of save's options" "^[^!]*--udp\$" "$(completions --udp 127.0.0.1 settings save -- | sed 's/--dry-run\|--force/!/g')"
expect "completion of a file to summarise" "/tevrolink\.1\.gz\$" "$(completions quality "$root/usr/share/man/man1/tevrol")"

# Every file that cmake --install puts down is in one of the packages.
DESTDIR=$work/installed "$(dirname "$cpack")/cmake" --install "$build" --prefix /usr >/dev/null
listing() { (cd "$1" && find . ! -type d | sort); }
missing=$(comm -23 <(listing "$work/installed") <(listing "$root"))
[ -z "$missing" ] || fail "installed but in no package: $missing"

report=$(lintian --fail-on error "$work"/packages/*.deb 2>&1) || fail "lintian: $report"
[ -z "$report" ] || echo "$report"

[ "$failures" -eq 0 ] || exit 1
echo "packages: $(cd "$work/packages" && echo *.deb)"
