#!/usr/bin/env bash
# Fails when libIfxLib exports anything but its public interface: internal helpers and
# template code must stay hidden so that agents cannot come to depend on them.
set -euo pipefail
library="$1"
nm="${2:-nm}"

public='^(c_ifxSubKey|c_hubMaster'
public+='|GETLASTERROR|GETENVIRONMENTVARIABLE|SETENVIRONMENTVARIABLE|GET_CURRENTPROCESSID'
public+='|GET_CURRENTTHREADID|GET_PARENTPID|CreateDateString|jxrename'
public+='|ReadFromOnconfig|GetRegistryItemValue|CheckRegistryItemValue|GetClientName'
public+='|GetInstanceName|GetIfxSID|GetOrreryBaseTempPath|GetOrreryLogFilesPath'
public+='|split|CommandLineToArgv|SplitLine|free_split_array|TRIM|STRTOK|ChangeSymb1ToSymb2'
public+='|GetNextLine'
public+='|IfxChildProcess::(IfxChildProcess|~IfxChildProcess|Initialize|InitializeLinux'
public+='|WriteBuf|ReadBuf|BeginWait|WaitThreadFunction|WaitThread|Wait|Finalize'
public+='|SetPostForkParam|GetPostForkParam|PostFork|SetLaunchOptions|WaitFor|Stop|SendSignal'
public+='|ExitDescriptor|LaunchError|WriteBytes|ReadBytes|CloseInput|kOwnProcessGroup'
public+='|kStopWithLauncher))(\(.*)?$'

exported=$("$nm" -DC --defined-only "$library" | cut -d' ' -f3-)
[ -n "$exported" ] || { echo "no exported symbols found in $library"; exit 1; }
unexpected=$(printf '%s\n' "$exported" | grep -Ev "$public" || true)
if [ -n "$unexpected" ]; then
    echo "exported but not public:"
    printf '%s\n' "$unexpected"
    exit 1
fi
echo "$(printf '%s\n' "$exported" | wc -l) exported symbols, all public"
