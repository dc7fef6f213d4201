#!/usr/bin/env bash
# The Debian package as a user gets it, in three steps that share one work folder:
#   package_test.sh build   BUILD-DIR WORK   builds the package with CPack from the build tree
#   package_test.sh lint    BUILD-DIR WORK   lintian finds no error in it
#   package_test.sh install BUILD-DIR WORK   unpacks it into a throw-away root, checks that
#       every dependency it names is installed here, and runs the installed programs: --version
#       and a headless download against nginx, with the list written by the installed mklist.
set -euo pipefail

step=$1
build=$(realpath "$2")
work=$3
repo=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

deb() {
    local found=("$work"/quellbridger_*.deb)
    [ -f "${found[0]}" ] || fail "no package in $work (the build step makes it)"
    echo "${found[0]}"
}

case $step in
build)
    for tool in cpack dpkg-deb dpkg-shlibdeps; do
        command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
    done
    rm -rf "$work"
    mkdir -p "$work"
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.out" 2>&1 ||
        { cat "$work/cpack.out" >&2; fail "cpack failed"; }
    package=$(deb)
    dpkg-deb --info "$package"
    # The fields a user and the archive read.
    [ "$(dpkg-deb -f "$package" Package)" = quellbridger ] || fail "package name"
    [ "$(dpkg-deb -f "$package" Section)" = net ] || fail "section"
    [ "$(dpkg-deb -f "$package" Priority)" = optional ] || fail "priority"
    dpkg-deb -f "$package" Maintainer | grep -qE '^HOLLOWMERE WORKS <[^ ]+@[^ ]+>$' ||
        fail "maintainer: $(dpkg-deb -f "$package" Maintainer)"
    # Found by dpkg-shlibdeps: the libraries the programs link.
    for library in libcurl4 libssl3 libjsoncpp25 libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
        dpkg-deb -f "$package" Depends | grep -qE "(^|, )$library( |,|$)" ||
            fail "Depends lacks $library: $(dpkg-deb -f "$package" Depends)"
    done
    ;;
lint)
    command -v lintian >/dev/null || fail "lintian is missing (scripts/setup installs it)"
    lintian --fail-on error "$(deb)" ||
        fail "lintian reports errors"
    ;;
install)
    package=$(deb)
    root="$work/root"
    rm -rf "$root"
    dpkg-deb -x "$package" "$root"

    # Every dependency (one alternative of each) is installed on this machine.
    IFS=',' read -ra groups <<<"$(dpkg-deb -f "$package" Depends)"
    for group in "${groups[@]}"; do
        satisfied=""
        IFS='|' read -ra alternatives <<<"$group"
        for alternative in "${alternatives[@]}"; do
            read -r name _ <<<"$alternative"
            version=$(sed -nE 's/.*\(([<>=]+) *([^)]+)\).*/\1 \2/p' <<<"$alternative")
            have=$(dpkg-query -W -f='${Status} ${Version}' "$name" 2>/dev/null || true)
            [[ $have == "install ok installed "* ]] || continue
            if [ -n "$version" ]; then
                read -r op wanted <<<"$version"
                case $op in
                '>=') op=ge ;; '<=') op=le ;; '>>') op=gt ;; '<<') op=lt ;; '=') op=eq ;;
                esac
                dpkg --compare-versions "${have##* }" "$op" "$wanted" || continue
            fi
            satisfied=$name
            break
        done
        [ -n "$satisfied" ] || fail "dependency not installed here: $group"
    done

    # Where a desktop looks for the program.
    for file in usr/bin/quellbridger usr/bin/quellbridger-cli usr/bin/quellbridger-mklist \
        usr/share/applications/com.hollowmere.Quellbridger.desktop \
        usr/share/metainfo/com.hollowmere.Quellbridger.metainfo.xml \
        usr/share/icons/hicolor/16x16/apps/com.hollowmere.Quellbridger.png \
        usr/share/icons/hicolor/256x256/apps/com.hollowmere.Quellbridger.png \
        usr/share/icons/hicolor/512x512/apps/com.hollowmere.Quellbridger.png \
        usr/share/man/man1/quellbridger-cli.1.gz usr/share/man/man1/quellbridger-mklist.1.gz \
        usr/share/doc/quellbridger/copyright; do
        [ -e "$root/$file" ] || fail "not in the package: /$file"
    done
    zcat "$root/usr/share/man/man1/quellbridger-cli.1.gz" | grep -q '^\.SH EXIT STATUS' ||
        fail "the cli manual page has no exit status section"

    # The installed programs, from the installed files only.
    version=$(sed -nE 's/^project\(Quellbridger VERSION ([0-9.]+).*/\1/p' "$repo/CMakeLists.txt")
    for program in quellbridger quellbridger-cli quellbridger-mklist; do
        out=$(env -i PATH=/usr/bin:/bin "$root/usr/bin/$program" --version) ||
            fail "$program --version failed"
        [ "$out" = "$program $version" ] || fail "$program --version says: $out"
    done

    . "$repo/scripts/lib/nginx.sh"
    trap 'qb_nginx_stop "$work/nginx"' EXIT
    client="$work/www/client"
    mkdir -p "$client/data/maps"
    head -c $((1024 * 1024 + 17)) /dev/urandom >"$client/data/world.pak"
    for i in 1 2 3; do head -c $((i * 30000)) /dev/urandom >"$client/data/maps/region$i.map"; done
    : >"$client/data/empty.cfg"
    printf 'Talvermoor package test client\n' >"$client/README.txt"
    port=$(qb_free_port) || fail "no free port"
    "$root/usr/bin/quellbridger-mklist" "$client" "http://127.0.0.1:$port/client/" \
        >"$work/www/filelist.json" || fail "the installed mklist failed"
    qb_nginx_start "$work/nginx" "$work/www" "$port" || fail "nginx did not start"
    home="$work/home"
    mkdir -p "$home"
    env -i PATH=/usr/bin:/bin HOME="$home" "$root/usr/bin/quellbridger-cli" \
        --list "http://127.0.0.1:$port/filelist.json" --dir "$work/installed" --quiet ||
        fail "the installed quellbridger-cli failed with status $?"
    (cd "$client" && find . -type f -exec md5sum {} + | sort -k2) >"$work/served.md5"
    (cd "$work/installed" && find . -type f -exec md5sum {} + | sort -k2) >"$work/installed.md5"
    diff -u "$work/served.md5" "$work/installed.md5" >&2 || fail "installed files differ"
    ;;
*)
    fail "unknown step $step"
    ;;
esac
echo "package $step: passed"
