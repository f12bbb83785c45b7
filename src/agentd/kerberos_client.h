// The agent's Kerberos operations, done with the MIT Kerberos library against the configured realm.
//
// Every exchange runs without a password prompter and with the library's change-on-expired path
// switched off. Each operation answers with the reply the agent sends: a result value, and for
// failures the Kerberos error code and a text. Operations may run on several threads at once;
// each takes a library context of its own for its duration.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "agent_protocol.h"
#include "hand_over.h"
#include "realm_transport.h"
#include "shredder.h"

namespace vesk::agentd {

struct RealmSettings {
  std::string realm;   // the Kerberos realm of user names without "@"
  std::string domain;  // a user's "@domain" suffix that names this realm
  // The keytab whose host keys prove a validation's KDC genuine; verification is skipped when it
  // holds no host key, unless hostKeyRequired.
  std::string hostKeytab;
  bool hostKeyRequired = false;
  TransportSettings transport;
};

// What a reachability check found.
struct KdcContact {
  bool reached = false;
  std::string address;  // the KDC that answered, as the library names it ("udp 192.0.2.1:88")
  std::string reason;   // when not reached: why
};

// A password server's result string as the agent passes it on: libkrb5's rendering
// (krb5_chpw_message: an Active Directory policy block becomes sentences), on one line.
std::string passwordServerMessage(std::string_view resultString);

class KerberosClient {
 public:
  explicit KerberosClient(RealmSettings settings)
      : settings_(std::move(settings)), transport_(std::make_shared<RealmTransport>(settings_.transport)) {}

  // An AS exchange for the user with the password.
  agentproto::Reply validate(const std::string& user, const Shredder& password) const;
  // The user's own change: an AS exchange for the password service with the old password, then
  // the change.
  // handOver (when given) is claimed right before the change leaves for the password server; when
  // the claim fails (the caller has been answered) nothing is sent and the password stays.
  agentproto::Reply change(const std::string& user, const Shredder& newPassword, const Shredder& oldPassword,
                           HandOver* handOver = nullptr) const;
  // An administrator's set of the user's password, authenticated with the administrator's password.
  agentproto::Reply set(const std::string& user, const Shredder& newPassword, const std::string& admin,
                        const Shredder& adminPassword, HandOver* handOver = nullptr) const;
  // Whether the realm has the user, found without spending a password attempt: 0 with the
  // principal when it exists, 17 when the KDC does not know it, an agent value when it cannot tell.
  agentproto::Reply probe(const std::string& user) const;
  // Asks the realm's KDCs about a principal that need not exist: reached when any KDC answers.
  KdcContact reachKdc() const;
  // Asks the KDCs held back for silence again, each alone (see RealmTransport::probeHeldBack).
  void probeHeldBack() const;
  // Whether the host keytab holds a host key that verification would use.
  bool hostKeytabUsable() const;

  // Whether the credential cache can be used by the calling process: 0 with its principal.
  agentproto::Reply checkCache(const std::string& cacheName) const;
  // A set of the user's password with the credentials in the cache.
  agentproto::Reply setWithCache(const std::string& user, const Shredder& newPassword,
                                 const std::string& cacheName) const;

  // The principal for a user name: "name" in the realm; "name@domain" in the realm when the
  // suffix names the domain or the realm, else in the realm named by the upper-cased suffix.
  std::string principalName(const std::string& user) const;

  // The transport every exchange of this client goes through, with its servers' health.
  RealmTransport& transport() const { return *transport_; }

 private:
  RealmSettings settings_;
  std::shared_ptr<RealmTransport> transport_;
};

}  // namespace vesk::agentd
