#!/usr/bin/env bash
# Start-up and idle cost of the PKCS#11 module, measured the way a command-line client sees it.
#
#   bench/bench_startup.sh [RUNS]      (default 21)
#
# 1. Wall time of a process that loads the module, calls C_Initialize, C_GetSlotList and C_Finalize
#    and exits: median of RUNS runs, libkeycore with two virtual tokens (bot, hid) side by side with
#    SoftHSM2 holding one initialised token. SoftHSM2 (Debian package softhsm2) is installed here
#    when it is missing; nothing else needs it.
# 2. Idle CPU: the same client stays initialised for 10 seconds with the two tokens present; the CPU
#    time of the whole process over those 10 seconds (all its threads).
set -euo pipefail

runs=${1:-21}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
build=${KEYCORE_BUILD_DIR:-$root/build}
module="$build/bin/libkeycore.so"
[[ -f "$module" ]] || { echo "build the library first: $module is missing" >&2; exit 1; }

# Not under /tmp: with-vtoken gives the command a private /tmp.
work=$(mktemp -d "$build/bench-startup.XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/probe" "$here/startup_probe.c" $(pkg-config --cflags p11-kit-1) -ldl

softhsm=/usr/lib/softhsm/libsofthsm2.so
if [[ ! -f "$softhsm" ]]; then
    sudo=(); [[ $(id -u) -eq 0 ]] || sudo=(sudo)
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends softhsm2 >/dev/null
fi
mkdir -p "$work/softhsm/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/softhsm/tokens" \
    > "$work/softhsm/softhsm2.conf"
export SOFTHSM2_CONF="$work/softhsm/softhsm2.conf"
softhsm2-util --init-token --free --label bench --pin 123456 --so-pin 123456 >/dev/null

# One wall time in microseconds per run of the probe against the module given as $1.
cat > "$work/times.sh" <<LOOP
#!/usr/bin/env bash
for ((i = 0; i < $runs; i++)); do
    t0=\$(date +%s%N)
    "$work/probe" "\$1" || { echo "probe failed against \$1" >&2; exit 1; }
    t1=\$(date +%s%N)
    echo \$(((t1 - t0) / 1000))
done
LOOP
chmod +x "$work/times.sh"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

keycore_us=$("$root/scripts/with-vtoken" --tokens bot,hid -- "$work/times.sh" "$module" | median)
softhsm_us=$("$work/times.sh" "$softhsm" | median)
idle=$("$root/scripts/with-vtoken" --tokens bot,hid -- "$work/probe" "$module" 10)

awk -v k="$keycore_us" -v s="$softhsm_us" -v runs="$runs" -v idle="$idle" 'BEGIN {
    split(idle, f, " ")
    printf "start-up (load, C_Initialize, C_GetSlotList, C_Finalize, exit), median of %d runs:\n", runs
    printf "  libkeycore, 2 tokens : %8.2f ms\n", k / 1000
    printf "  SoftHSM2, 1 token    : %8.2f ms\n", s / 1000
    printf "  ratio                : %8.2f (goal: at most 3)\n", k / s
    printf "idle, 10 s with %d slots: %.1f ms CPU (%.3f%% of one core)\n", f[2], f[1], f[1] / 100
}'
