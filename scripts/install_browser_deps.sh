#!/usr/bin/env bash
# Installs what the browser test of the web bridge needs, when it is missing: Node.js and npm, Debian's
# chromium (with a small CJK font so that screenshots of the page are readable), and the npm package
# playwright-core in tests/browser. Debian packages are installed through apt-get when running as root;
# otherwise the script says what to install and fails.
# Usage: scripts/install_browser_deps.sh
set -euo pipefail

root_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
browser_dir="$root_dir/tests/browser"
chromium_bin=/usr/bin/chromium
min_node_major=20 # playwright-core's minimum

apt_updated=0
apt_install() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "install_browser_deps: missing: $*; install them with: sudo apt-get install -y $*" >&2
        return 1
    fi
    echo "install_browser_deps: installing $*"
    export DEBIAN_FRONTEND=noninteractive
    if [ "$apt_updated" -eq 0 ]; then
        apt-get update -qq
        apt_updated=1
    fi
    apt-get install -y -qq --no-install-recommends "$@"
}

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

install_node() {
    local missing=()
    command -v node >/dev/null 2>&1 || missing+=(nodejs)
    command -v npm >/dev/null 2>&1 || missing+=(npm)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
    local major
    major="$(node -p 'process.versions.node.split(".")[0]')"
    if [ "$major" -lt "$min_node_major" ]; then
        echo "install_browser_deps: warning: Node.js $(node --version) is older than $min_node_major;" \
             "playwright-core may not run on it" >&2
    fi
}

install_chromium() {
    local missing=()
    [ -x "$chromium_bin" ] || missing+=(chromium)
    package_installed fonts-wqy-microhei || missing+=(fonts-wqy-microhei)
    if [ ${#missing[@]} -gt 0 ]; then
        apt_install "${missing[@]}"
    fi
}

install_playwright() {
    if [ -d "$browser_dir/node_modules/playwright-core" ]; then
        return 0
    fi
    echo "install_browser_deps: installing playwright-core in tests/browser"
    # playwright-core brings no browser of its own; the test drives Debian's chromium.
    if [ -f "$browser_dir/package-lock.json" ]; then
        (cd "$browser_dir" && npm ci --no-audit --no-fund)
    else
        (cd "$browser_dir" && npm install --no-audit --no-fund)
    fi
}

install_node
install_chromium
install_playwright
