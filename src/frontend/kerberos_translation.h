// What a Kerberos failure reported by the agent (result 9) means to the user.
#pragma once

// The result for a Kerberos error code (MIT numbering, or a result code of the password-change
// protocol): 3 account disabled, 2 invalid user name or password, 10 permission denied (code 5
// on an administrator operation), 6 password change disabled (code 5 on an own change), and 5
// (policy not matched) for every other code.
int translateKerberosFailure(int code, bool administratorOperation);
// Whether code is one of those named above (every other code is "policy not matched").
bool kerberosFailureKnown(int code);
