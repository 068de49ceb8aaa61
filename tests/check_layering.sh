#!/usr/bin/env bash
# Fails when a file outside src/platform/ includes an OS or third-party header, or when a folder
# includes a project header of a folder it may not depend on. The portable core may include only
# the C++ standard library and its own headers; folders depend downward only:
#   app -> ui -> services, gateway, backend -> path -> discovery -> net -> platform (ports) -> base
# and the adapters (platform/linux, platform/win32, platform/sim, platform/portable) include
# only their own folder, the ports (platform/*.h) and base.
#   check_layering.sh SRC_DIR     check a source tree
#   check_layering.sh --self-test prove the check notices a violation
set -u

# Headers the core must not reach for. Standard C++ and C headers (<cstdio>, <string>, ...) are fine.
forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/|netinet/|arpa/|net/|linux/|windows\.h|winsock|ws2|iphlpapi|wlanapi|winhttp|shlobj|dpapi|wincrypt|icmpapi|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|ifaddrs\.h|netdb\.h|resolv\.h|poll\.h|dlfcn\.h|pwd\.h|signal\.h|curl/|gtk/|glib|webkit|libayatana|pcap|netlink/|openssl/|httplib\.h|nlohmann/|WebView2)'

# The project folders a folder's files may include (besides their own folder).
allowed_for() {
    case $1 in
        base) echo "" ;;
        platform) echo "base" ;;
        platform/linux | platform/win32 | platform/sim | platform/portable) echo "platform-ports base" ;;
        net) echo "platform-ports base" ;;
        discovery) echo "net platform-ports base" ;;
        path) echo "discovery net platform-ports base" ;;
        services | gateway | backend) echo "path discovery net platform-ports base" ;;
        ui) echo "services gateway backend path discovery net platform-ports base" ;;
        app) echo "*" ;;
        *) echo "?" ;;
    esac
}

check_directions() {
    local src=$1 bad="" file folder allowed target ok
    while IFS= read -r file; do
        folder=${file#"$src"/}
        folder=${folder%/*}
        case $folder in platform/*) ;; *) folder=${folder%%/*} ;; esac
        allowed=$(allowed_for "$folder")
        [ "$allowed" = "*" ] && continue
        while IFS= read -r target; do
            [ -z "$target" ] && continue
            ok=no
            case $target in
                "$folder"/*) ok=yes ;;
            esac
            for a in $allowed; do
                case $a in
                    platform-ports) [[ $target =~ ^platform/[^/]+$ ]] && ok=yes ;;
                    *) case $target in "$a"/*) ok=yes ;; esac ;;
                esac
            done
            # A port header lives in platform/ itself, not in an adapter's folder.
            if [ "$folder" = platform ] && [[ ! $target =~ ^platform/[^/]+$ ]] && [[ $target != base/* ]]; then
                ok=no
            fi
            [ $ok = no ] && bad+="$file: includes $target"$'\n'
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
    done < <(find "$src" \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.cc' \) -type f)
    if [ -n "$bad" ]; then
        echo "Includes against the layering (folders depend downward only):"
        printf '%s' "$bad"
        return 1
    fi
    return 0
}

check_tree() {
    local src=$1 bad
    bad=$(grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        "$forbidden" "$src" | grep -v "^$src/platform/")
    if [ -n "$bad" ]; then
        echo "OS or third-party headers outside src/platform/:"
        echo "$bad"
        return 1
    fi
    check_directions "$src"
}

if [ "${1:-}" = "--self-test" ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/path" "$tmp/platform/linux"
    printf '#include <string>\n' >"$tmp/path/ok.cpp"
    printf '#include <sys/socket.h>\n' >"$tmp/platform/linux/fine.cpp"
    check_tree "$tmp" >/dev/null || { echo "clean tree reported as violating"; exit 1; }
    for header in '<sys/socket.h>' '<windows.h>' '<curl/curl.h>' '<gtk/gtk.h>' ' <unistd.h>'; do
        printf '#include %s\n' "$header" >"$tmp/path/bad.cpp"
        if check_tree "$tmp" >/dev/null; then
            echo "violation not detected: #include $header"
            exit 1
        fi
    done
    rm "$tmp/path/bad.cpp"
    mkdir -p "$tmp/base" "$tmp/discovery" "$tmp/app"
    printf '#include "base/log.h"\n#include "discovery/x.h"\n#include "platform/clock.h"\n' >"$tmp/path/fine.cpp"
    printf '#include "path/anything.h"\n' >"$tmp/app/top.cpp"
    check_tree "$tmp" >/dev/null || { echo "allowed includes reported as violating"; exit 1; }
    for pair in 'path:app/log.h' 'base:path/x.h' 'discovery:path/x.h' 'platform/linux:platform/sim/x.h' \
                'platform/linux:discovery/x.h' 'path:gateway/x.h'; do
        mkdir -p "$tmp/${pair%%:*}"
        printf '#include "%s"\n' "${pair#*:}" >"$tmp/${pair%%:*}/upward.cpp"
        if check_tree "$tmp" >/dev/null; then
            echo "upward include not detected: ${pair%%:*} includes ${pair#*:}"
            exit 1
        fi
        rm "$tmp/${pair%%:*}/upward.cpp"
    done
    echo "self-test passed"
    exit 0
fi

check_tree "${1:?usage: check_layering.sh SRC_DIR | --self-test}"
