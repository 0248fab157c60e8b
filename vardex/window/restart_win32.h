// Registration with Restart Manager: an installer that replaces Vardex's or
// Tessik's files (the package sets MSIRMSHUTDOWN=2) may then close Vardex and
// starts it again afterwards. Not after a crash or a hang, and not after a
// reboot, which the Run entry already covers.
#pragma once

namespace vardex {

// Loaded by name: RegisterApplicationRestart is missing before Windows Vista.
void RegisterForRestart();

}  // namespace vardex
