// Where the Kerberos library will look for a realm's KDCs, found the way it finds them: the "kdc"
// entries of the realm in krb5.conf (the files named by KRB5_CONFIG, else /etc/krb5.conf), and
// when there are none and DNS lookups are on ("dns_lookup_kdc", by default on), the SRV records
// _kerberos._udp.REALM and _kerberos._tcp.REALM.
#pragma once

#include <krb5/krb5.h>

#include <string>
#include <vector>

namespace vesk::agentd {

struct KdcLocation {
  std::vector<std::string> hosts;  // "host" or "host:port", as configured or found
  std::string source;              // "krb5.conf" or "DNS"
};

// The KDCs of realm; false with the reason when neither krb5.conf nor DNS names one.
bool locateKdcs(krb5_context context, const std::string& realm, KdcLocation& found, std::string& why);
// The password-change servers of realm, found as the library finds them: "kpasswd_server", else
// the host of "admin_server" (port 464), else the SRV records _kpasswd._udp and _kpasswd._tcp.
bool locatePasswordServers(krb5_context context, const std::string& realm, KdcLocation& found, std::string& why);
// The largest message sent over UDP ("udp_preference_limit", 1465 by default); larger go over TCP.
std::size_t udpPreferenceLimit(krb5_context context);

}  // namespace vesk::agentd
