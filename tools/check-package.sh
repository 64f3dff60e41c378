#!/usr/bin/env bash
# Checks the packages that tools/package.sh built: lintian, then installs them with apt-get,
# runs the installed programs, validates the desktop entry and the metainfo, starts the menu
# launcher with a fresh HOME, removes the packages and checks that nothing is left in /usr.
# Installs with sudo unless root (CI is root); T7R_PACKAGE_DIR as for tools/package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${T7R_PACKAGE_DIR:-build-package}
debs=()
packages=()
for deb in "$PWD/$build"/*.deb; do
    debs+=("$deb")
    packages+=("$(dpkg-deb -f "$deb" Package)")
done
[ ${#debs[@]} -gt 0 ] || { echo "No packages in $build: run tools/package.sh" >&2; exit 1; }

step() { echo "== $*"; }
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

step "lintian"
status=0
report=$(lintian --fail-on error "${debs[@]}" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "lintian found errors" >&2; exit 1; }

snapshot() { find /usr -xdev | LC_ALL=C sort; }
before=$(mktemp)
after=$(mktemp)
trap 'rm -f "$before" "$after"' EXIT
snapshot >"$before"

step "apt-get install ${debs[*]##*/}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}" >/dev/null

step "installed programs"
/usr/bin/probesim --help >/dev/null
/usr/bin/t7r-cli --help >/dev/null
# --version and the menu's launcher work on no display at all.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/t7r-demo --version
home=$(mktemp -d)
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME -u XDG_DOCUMENTS_DIR HOME="$home" \
    /usr/libexec/t7r-demo/t7r-demo-launcher --version
[ -d "$home/T7R Demo" ] || { echo "The launcher made no folder in $home" >&2; exit 1; }
rm -rf "$home"
for program in /usr/bin/probesim /usr/bin/t7r-cli /usr/bin/t7r-demo; do
    [ ! -e "$program" ] || man -w "${program##*/}" >/dev/null 2>&1 ||
        echo "warning: no manual page for ${program##*/}"
done

step "desktop-file-validate, appstreamcli validate"
mapfile -t entries < <(dpkg -L "${packages[@]}" | grep -E '^/usr/share/applications/.*\.desktop$')
mapfile -t metainfo < <(dpkg -L "${packages[@]}" | grep -E '^/usr/share/metainfo/.*\.xml$')
[ ${#entries[@]} -gt 0 ] && [ ${#metainfo[@]} -gt 0 ]
desktop-file-validate "${entries[@]}"
appstreamcli validate --no-net "${metainfo[@]}"

mapfile -t installed < <(dpkg -L "${packages[@]}")

step "apt-get purge ${packages[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null
snapshot >"$after"
left=()
for path in "${installed[@]}"; do
    # Directories such as /usr/share/man stay where other packages use them.
    if [ -e "$path" ] && ! { [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1; }; then
        left+=("$path")
    fi
done
# Whatever the install added that no package owns (what dependencies brought is theirs).
while IFS= read -r path; do
    dpkg -S "$path" >/dev/null 2>&1 || left+=("$path")
done < <(LC_ALL=C comm -13 "$before" "$after")
if [ ${#left[@]} -gt 0 ]; then
    printf 'Left behind in /usr:\n' >&2
    printf '  %s\n' "${left[@]}" >&2
    exit 1
fi
echo "Packages installed, checked and removed; nothing left in /usr."
