#!/usr/bin/env bash
# Builds the benchmarks in Release and runs one:
#   bench/run.sh [FOLDER] [--keep-data] [--only=PARTS]   engine_bench (beside git; installs git when missing)
#   bench/run.sh checkout [FOLDER] [--keep-data]         checkout_bench (and its propagation_client)
#   bench/run.sh window [FOLDER] [--keep-data]           window_bench (the team window, offscreen)
#   bench/run.sh share [FOLDER] [--keep-data]            share_bench (an sshfs share of a private sshd)
#   bench/run.sh large [FOLDER] [--keep-data] [--quick | --size=MiB] [--only=local,share,smb,smaller]
#                                                        large_bench (beside cp, restic and borg; installs both when missing)
# FOLDER is where it generates its data and measures (default: the build folder); it needs about
# 14 GiB free for engine_bench, 5 GiB for the others. Run as root so that it can drop the page
# cache between runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Release build beside the ordinary one: <build folder>-bench.
build="${VANTREL_BUILD_DIR:-$root/build}-bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
program=engine_bench
case "${1:-}" in
  checkout) program=checkout_bench; shift ;;
  window) program=window_bench; shift ;;
  share) program=share_bench; shift ;;
  large) program=large_bench; shift ;;
esac
# engine_bench measures git beside the engine: git from the system's packages, for the benchmark only.
if [ "$program" = engine_bench ] && ! command -v git >/dev/null 2>&1; then
  apt-get install -y git || { apt-get update && apt-get install -y git; }
fi
# large_bench measures restic and borg beside the engine: Debian's packages, for the benchmark only.
if [ "$program" = large_bench ] && ! command -v restic >/dev/null 2>&1; then
  apt-get install -y restic || { apt-get update && apt-get install -y restic; }
fi
if [ "$program" = large_bench ] && ! command -v borg >/dev/null 2>&1; then
  apt-get install -y borgbackup || { apt-get update && apt-get install -y borgbackup; }
fi
# It also starts its own Samba server and mounts it with smbnetfs (scripts/setup.sh installs both).
if [ "$program" = large_bench ] && ! { command -v smbnetfs && { command -v smbd || [ -x /usr/sbin/smbd ]; }; } >/dev/null 2>&1; then
  echo "$program needs smbnetfs and samba: run scripts/setup.sh" >&2
  exit 1
fi
# share_bench starts its own SSH server and mounts it with sshfs (scripts/setup.sh installs both).
if { [ "$program" = share_bench ] || [ "$program" = large_bench ]; } && ! { command -v sshfs && { command -v sshd || [ -x /usr/sbin/sshd ]; }; } >/dev/null 2>&1; then
  echo "$program needs sshfs and openssh-server: run scripts/setup.sh" >&2
  exit 1
fi
# VANTREL_BENCH_JOBS: parallel compile jobs (all processors by default).
ninja -C "$build" -j "${VANTREL_BENCH_JOBS:-$(nproc)}" "$program"
exec "$build/bench/$program" "$@"
