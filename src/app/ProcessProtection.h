#pragma once
// What the process sets for itself before anything else: it holds the user's mail password
// and customer list, so nothing it writes is readable by others and it leaves no core dump.

namespace pw::app {

// File creation mask 077 (files 0600, folders 0700) and a core file size limit of 0, soft
// and hard, which child processes inherit.
void ProtectProcess();

}  // namespace pw::app
