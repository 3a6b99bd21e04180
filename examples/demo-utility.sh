#!/bin/bash
# Stand-in for an Informix utility in the demonstration: it answers each NUL-terminated
# command on its standard input with one line, and "exit <n>" ends it with status n.
echo "demo utility: running as $(id -un), INFORMIXSERVER=${INFORMIXSERVER:-unset}, args: $*"
while IFS= read -r -d '' command; do
    case "$command" in
        exit\ *) exit "${command#exit }" ;;
        *) echo "demo utility: done with '$command'" ;;
    esac
done
echo "demo utility: end of input"
