#pragma once

// Finding a child's descriptors without close_range: the ways KeepOnlyStandardDescriptors-
// AcrossExec falls back to on kernels before 5.11. Both run in the child before exec and
// keep to the rules of ChildSteps.h (nothing allocated, only raw or async-signal-safe
// calls, nothing written but the child's stack).

namespace ifxlib {

// Marks close-on-exec every open descriptor numbered first or higher, as /proc/self/fd
// lists them: the cost follows the descriptors open, not the limit. False when the list
// could not be read to its end (no /proc, another file system mounted there, a process id
// namespace that /proc does not show); what was marked by then stays marked.
bool MarkListedDescriptorsFrom(int first);

// Marks close-on-exec every descriptor from first up to the hard descriptor limit, one
// call per number. The last resort: a descriptor opened before the hard limit itself was
// lowered below it is out of its reach.
void MarkDescriptorsUpToHardLimitFrom(int first);

}  // namespace ifxlib
