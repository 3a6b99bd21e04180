#!/usr/bin/env bash
# Installs what building and testing IfxLib needs, asking apt only for what is missing.
set -euo pipefail

packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev pkgconf procps clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
