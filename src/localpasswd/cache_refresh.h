// Telling the name service caches that an account file changed, as the system's own account tools
// do: "nscd -i passwd" and "sss_cache -U", each only when the program is installed. The caches of
// a host running neither are not there to refresh; a failure is logged and never fails the change.
#pragma once

// Runs the invalidation commands with an empty environment, no terminal and no output. Call as
// root, after a successful write of /etc/passwd or /etc/shadow.
void refreshAccountCaches();
