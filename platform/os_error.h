#pragma once
// The operating system's last error, kept per thread.
//
// Every platform call that fails leaves the errno value it failed with in
// LastOsError(); a successful call leaves it as it was. A caller that reports
// the failure reads it there, so that its report names the operating system's
// reason.

namespace vevura::platform {

//! errno of the last failed platform call on this thread (0 when none yet).
int LastOsError();
//! Records err as the last failure of this thread.
void SetLastOsError(int err);

}  // namespace vevura::platform
