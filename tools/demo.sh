#!/usr/bin/env bash
# The tool at work without hardware: the probe simulator serves eight probes on a
# pseudo-terminal that the tool finds in its port list as ttyUSB0. Both run in a private mount
# namespace with a /dev of their own, so nothing appears in the host's /dev and the host's
# ports and serial lock files are left alone. Closing the window ends both.
#
# Works in run-demo/ (settings.cfg, log/log.txt, probesim.log). T7R_BUILD_DIR picks another
# build directory than build/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${T7R_BUILD_DIR:-$root/build}
work=$root/run-demo
port=ttyUSB0
addresses=(12 13 14 15 16 17 18 19)

# Runs inside the namespace: a private /dev with the simulator's terminal as /dev/ttyUSB0.
inside() {
    # Without /sys/class/tty the serial library lists the ports it finds in /dev.
    mount -t tmpfs -o mode=755 tmpfs /sys/class

    # The new /dev is put together aside, taking the basic nodes from the old one, and then
    # laid over it.
    local stage
    stage=$(mktemp -d)
    mount -t tmpfs -o mode=755 tmpfs "$stage"
    for node in null zero full random urandom tty; do
        [ -e "/dev/$node" ] || continue
        touch "$stage/$node"
        mount --bind "/dev/$node" "$stage/$node"
    done
    mkdir "$stage/pts" "$stage/shm"
    # A devpts of our own has a ptmx that anyone may open; the host's may be closed to users.
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$stage/pts" ||
        mount --rbind /dev/pts "$stage/pts"
    mount -t tmpfs -o mode=1777 tmpfs "$stage/shm"
    ln -s pts/ptmx "$stage/ptmx"
    ln -s /proc/self/fd "$stage/fd"
    ln -s /proc/self/fd/0 "$stage/stdin"
    ln -s /proc/self/fd/1 "$stage/stdout"
    ln -s /proc/self/fd/2 "$stage/stderr"
    mount --rbind "$stage" /dev
    umount -l "$stage"
    rmdir "$stage"

    # The serial library's LCK..ttyUSB0 stays in here instead of locking the host's ttyUSB0.
    if [ -d /var/lock ]; then
        mount -t tmpfs -o mode=1777 tmpfs "$(readlink -f /var/lock)"
    fi

    cd "$work"
    local deathsig=()
    if command -v setpriv >/dev/null; then
        deathsig=(setpriv --pdeathsig TERM)
    fi
    "${deathsig[@]}" "$build/tools/probesim/probesim" --settings settings.cfg --walk 0.5 \
        >probesim.log &
    # Globals: the traps run after this function has returned.
    simulator=$!
    tool=
    trap 'kill $tool "$simulator" 2>/dev/null; wait 2>/dev/null || true' EXIT
    trap 'exit 130' INT TERM

    local slave=
    for _ in $(seq 100); do
        slave=$(head -n 1 probesim.log 2>/dev/null || true)
        [ -c "$slave" ] && break
        kill -0 "$simulator" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -c "$slave" ]; then
        echo "demo: the probe simulator did not start" >&2
        exit 1
    fi
    touch "/dev/$port"
    mount --bind "$slave" "/dev/$port"

    echo "demo: eight probes (addresses ${addresses[*]}) answer on $port."
    echo "demo: pick $port, press Подключить, type the addresses into the panels."
    echo "demo: the tool logs to run-demo/log/log.txt, the simulator to run-demo/probesim.log."
    # In the background, so that a signal to this script ends both at once.
    "${deathsig[@]}" "$build/t7r-demo" &
    tool=$!
    wait "$tool"
}

if [ "${1:-}" = "--inside" ]; then
    inside
    exit
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display. Without one, run it under a virtual display:" >&2
    echo "    xvfb-run -a -s '-screen 0 1280x1024x24' tools/demo.sh" >&2
    echo "and look at it with a screenshot (import -window root shot.png)." >&2
    exit 1
fi
for tool in unshare mount; do
    if ! command -v "$tool" >/dev/null; then
        echo "demo: $tool is missing (Debian package util-linux / mount)" >&2
        exit 1
    fi
done

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target t7r-demo probesim

mkdir -p "$work"
{
    printf 'Port=COM3\r\n'
    for i in "${!addresses[@]}"; do
        printf 'Probe%d=%d\r\n' $((i + 1)) "${addresses[$i]}"
    done
    printf 'Delay=190\r\n'
} >"$work/settings.cfg"

# Root gets a mount namespace; anybody else a user namespace in which to be root.
if [ "$(id -u)" -eq 0 ]; then
    namespace=(unshare --mount --propagation private)
else
    namespace=(unshare --map-root-user --mount --propagation private)
fi
if ! "${namespace[@]}" true 2>/dev/null; then
    echo "demo: private mount namespaces are not allowed here (${namespace[*]} failed)." >&2
    echo "demo: run it as root, or allow user namespaces (sysctl kernel.unprivileged_userns_clone=1" >&2
    echo "demo: on older Debian kernels, user.max_user_namespaces > 0)." >&2
    exit 1
fi
exec "${namespace[@]}" "$0" --inside
