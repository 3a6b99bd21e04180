#pragma once

// Stands in for putenv, so that a test can hold a writer of the environment in the middle
// of its change: while armed, the next putenv points environ at a torn list (holding
// IFXT_TORN=1 and nothing else) and waits until the test releases it; then it puts the
// real list back and does the real putenv. A launch that read the environment during
// that time would hand the torn list to its child.

namespace ifxtest {

void ArmNextEnvironmentWrite();
// Returns once the armed write is under way, environ torn.
void WaitForEnvironmentWrite();
void ReleaseEnvironmentWrite();

}  // namespace ifxtest
