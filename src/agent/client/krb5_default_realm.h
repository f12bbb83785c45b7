// The default realm of the Kerberos configuration, read without the Kerberos library, which the
// set-user-ID tool does not load.
//
// Read as the library reads it for this one relation: the files of KRB5_CONFIG (a colon-separated
// list; the caller's variable is ignored in a set-user-ID run) or /etc/krb5.conf, the first file
// that sets it wins; "default_realm = NAME" at the top level of the [libdefaults] section, "#" and
// ";" start comment lines. "include" and "includedir" directives are not followed.
#pragma once

#include <string>

namespace vesk {

// The default realm, or empty when no file sets it.
std::string krb5DefaultRealm();

// The default realm that one configuration text sets, or empty.
std::string krb5DefaultRealmIn(const std::string& text);

}  // namespace vesk
