// The studio of sshfs_team.h on SMB: a private Samba server that two computers mount with the FUSE
// SMB client smbnetfs, each mount with its own configuration folder.

#pragma once

#include "support/sshfs_team.h"

namespace vantrel::testing {

// What this machine lacks for an SMB studio; empty when it lacks nothing.
QString smbStudioMissing();
// Makes the share of an SMB studio, for ShareStudio: mounted by four computers.
StudioShareMaker smbStudioShare();

} // namespace vantrel::testing
