#!/usr/bin/env bash
# Fails when a stand-in host library exports standard-library code: callers must bind
# std:: symbols to their own libstdc++, never to a copy that a host library happened to
# instantiate or link in (its version script keeps to the host interface).
set -euo pipefail
nm="$1"
shift
status=0
for library in "$@"; do
    # A symbol of the standard library's own, whatever its return type, or its typeinfo,
    # vtable and guard variables ("typeinfo for std::...").
    leaked=$("$nm" -DC --defined-only "$library" | cut -d' ' -f3- |
        grep -E '^([^(<:]* )?(std|__gnu_cxx|__cxxabiv1)::' || true)
    count=$("$nm" -DC --defined-only "$library" | wc -l)
    if [ -n "$leaked" ]; then
        echo "$library exports standard-library code:"
        printf '%s\n' "$leaked" | head -20
        status=1
    else
        echo "$library: $count exported symbols, none of the standard library"
    fi
done
exit "$status"
