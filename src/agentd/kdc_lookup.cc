#include "kdc_lookup.h"

#include <arpa/nameser.h>
#include <netinet/in.h>
#include <resolv.h>

#include <profile.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "props.h"

namespace vesk::agentd {
namespace {

// The values of one relation of the library's profile (empty when absent).
std::vector<std::string> profileValues(krb5_context context, const char* section, const char* subsection,
                                       const char* relation) {
  std::vector<std::string> result;
  profile_t profile = nullptr;
  if (krb5_get_profile(context, &profile) != 0) return result;
  const char* names[] = {section, subsection, relation, nullptr};
  char** values = nullptr;
  if (profile_get_values(profile, names, &values) == 0 && values != nullptr) {
    for (char** value = values; *value != nullptr; ++value) result.emplace_back(*value);
    profile_free_list(values);
  }
  profile_release(profile);
  return result;
}

bool profileFlag(krb5_context context, const char* relation, bool fallback) {
  const auto values = profileValues(context, "libdefaults", relation, nullptr);
  if (values.empty()) return fallback;
  const std::string value = lower(values.front());
  return !(value == "false" || value == "no" || value == "off" || value == "0" || value == "nil");
}

// The targets of the SRV records of name, as "host:port".
std::vector<std::string> serviceRecords(const std::string& name) {
  std::vector<std::string> hosts;
  struct __res_state resolver;
  std::memset(&resolver, 0, sizeof resolver);
  if (res_ninit(&resolver) != 0) return hosts;
  unsigned char answer[4096];
  const int length = res_nquery(&resolver, name.c_str(), ns_c_in, ns_t_srv, answer, sizeof answer);
  ns_msg message;
  if (length > 0 && ns_initparse(answer, length, &message) == 0) {
    for (int i = 0; i < ns_msg_count(message, ns_s_an); ++i) {
      ns_rr record;
      if (ns_parserr(&message, ns_s_an, i, &record) != 0 || ns_rr_type(record) != ns_t_srv ||
          ns_rr_rdlen(record) < 7) {
        continue;
      }
      const unsigned char* data = ns_rr_rdata(record);
      const unsigned port = (static_cast<unsigned>(data[4]) << 8) | data[5];
      char target[NS_MAXDNAME];
      if (dn_expand(answer, answer + length, data + 6, target, sizeof target) < 0) continue;
      // "." as the target says the service is not offered.
      if (std::strcmp(target, ".") == 0 || target[0] == '\0') continue;
      hosts.push_back(std::string(target) + ":" + std::to_string(port));
    }
  }
  res_nclose(&resolver);
  return hosts;
}

// The servers of realm named by relation in krb5.conf, else by the SRV records of service.
bool locate(krb5_context context, const std::string& realm, std::vector<std::string> configured,
            const std::string& service, KdcLocation& found, std::string& why) {
  if (!configured.empty()) {
    found = KdcLocation{configured, "krb5.conf"};
    return true;
  }
  const bool dns = profileFlag(context, "dns_lookup_kdc", profileFlag(context, "dns_fallback", true));
  if (!dns) {
    why = "krb5.conf names no KDC for realm " + realm + " and DNS lookups are off (dns_lookup_kdc)";
    return false;
  }
  std::vector<std::string> hosts = serviceRecords(service + "._udp." + realm + ".");
  for (auto& host : serviceRecords(service + "._tcp." + realm + ".")) {
    if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(std::move(host));
  }
  if (hosts.empty()) {
    why = "neither krb5.conf nor DNS (SRV records " + service + "._udp." + realm + ", " + service + "._tcp." +
          realm + ") names a server for realm " + realm;
    return false;
  }
  found = KdcLocation{hosts, "DNS"};
  return true;
}

}  // namespace

bool locateKdcs(krb5_context context, const std::string& realm, KdcLocation& found, std::string& why) {
  return locate(context, realm, profileValues(context, "realms", realm.c_str(), "kdc"), "_kerberos", found, why);
}

bool locatePasswordServers(krb5_context context, const std::string& realm, KdcLocation& found, std::string& why) {
  auto configured = profileValues(context, "realms", realm.c_str(), "kpasswd_server");
  if (configured.empty()) {
    for (std::string host : profileValues(context, "realms", realm.c_str(), "admin_server")) {
      // The administration port is not the password port: keep only the host.
      const auto colon = host.rfind(':');
      const auto bracket = host.rfind(']');
      if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket) &&
          host.find(':') == colon) {
        host.erase(colon);
      } else if (bracket != std::string::npos && colon != std::string::npos && colon > bracket) {
        host.erase(colon);
      }
      configured.push_back(host);
    }
  }
  return locate(context, realm, configured, "_kpasswd", found, why);
}

std::size_t udpPreferenceLimit(krb5_context context) {
  const auto values = profileValues(context, "libdefaults", "udp_preference_limit", nullptr);
  if (values.empty()) return 1465;
  const long limit = std::strtol(values.front().c_str(), nullptr, 10);
  return limit > 0 ? static_cast<std::size_t>(limit) : 1465;
}

}  // namespace vesk::agentd
