#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vantrel needs.
# Idempotent: the package lists are refreshed only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  libqt6svg6 libgl-dev libvulkan-dev
  qcoro-qt6-dev
  libssl-dev libarchive-dev libglib2.0-dev
  xvfb xauth x11-utils
  desktop-file-utils libxml2-utils shared-mime-info
  fonts-dejavu-core
  breeze-icon-theme
  openssh-server sshfs
  samba smbnetfs
  faketime
  bubblewrap
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# openssh-server and samba would start the system's SSH and SMB servers (sshd; smbd, nmbd,
# samba-ad-dc) as they are installed. Nothing here needs them (the share tests start servers of
# their own with their own configuration), so while packages are installed no service is started
# (policy-rc.d answers 101, "not allowed", for every service), unless the machine already says
# otherwise.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
fi
# SMB services that run already are the machine's own and are left alone.
smb_services=(smbd nmbd samba-ad-dc)
running_before=()
for service in "${smb_services[@]}"; do
  if pgrep -x "$service" >/dev/null 2>&1; then running_before+=("$service"); fi
done
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
# A machine whose policy allows services may still have started the ones just installed: a system
# smbd would hold port 445 and nmbd the NetBIOS ports the share tests' own server may want.
for service in "${smb_services[@]}"; do
  if [[ " ${running_before[*]} " == *" $service "* ]]; then
    continue
  fi
  if ! pgrep -x "$service" >/dev/null 2>&1; then
    continue
  fi
  if command -v systemctl >/dev/null && systemctl is-active --quiet "$service" 2>/dev/null; then
    "${sudo_cmd[@]}" systemctl stop "$service" || true
  elif [ -x "/etc/init.d/$service" ]; then
    "${sudo_cmd[@]}" "/etc/init.d/$service" stop >/dev/null 2>&1 || true
  fi
done
