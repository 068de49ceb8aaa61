#!/usr/bin/env bash
# Fails when a file outside src/platform/ includes an OS or third-party header.
# The portable core may include only the C++ standard library and its own headers.
#   check_layering.sh SRC_DIR     check a source tree
#   check_layering.sh --self-test prove the check notices a violation
set -u

# Headers the core must not reach for. Standard C++ and C headers (<cstdio>, <string>, ...) are fine.
forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(sys/|netinet/|arpa/|net/|linux/|windows\.h|winsock|ws2|iphlpapi|wlanapi|winhttp|shlobj|dpapi|wincrypt|icmpapi|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|ifaddrs\.h|netdb\.h|resolv\.h|poll\.h|dlfcn\.h|pwd\.h|signal\.h|curl/|gtk/|glib|webkit|libayatana|pcap|netlink/|openssl/|httplib\.h|nlohmann/|WebView2)'

check_tree() {
    local src=$1 bad
    bad=$(grep -rnE --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.cc' \
        "$forbidden" "$src" | grep -v "^$src/platform/")
    if [ -n "$bad" ]; then
        echo "OS or third-party headers outside src/platform/:"
        echo "$bad"
        return 1
    fi
    return 0
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
    echo "self-test passed"
    exit 0
fi

check_tree "${1:?usage: check_layering.sh SRC_DIR | --self-test}"
