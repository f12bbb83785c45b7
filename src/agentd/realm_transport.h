// The agent's Kerberos traffic through its own transport: the library hands every KDC message to
// the agent (its KDC send hook) and the agent answers with the reply; the password change and set
// go out the same way. Servers are found as the library finds them and ordered by their health.
//
// Small KDC messages go over UDP (up to udp_preference_limit), larger ones over TCP; a KDC that
// answers "response too big" over UDP is asked again over TCP.
#pragma once

// com_err.h has no C++ guards of its own; krb5.h includes it.
extern "C" {
#include <com_err.h>
}
#include <krb5/krb5.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hand_over.h"
#include "kerberos_transport.h"
#include "server_health.h"
#include "shredder.h"

namespace vesk::agentd {

struct TransportSettings {
  // How long a server has alone before the next one is asked too.
  std::chrono::milliseconds serverWait{1000};
  // How long one message may wait for any answer.
  std::chrono::milliseconds messageLimit{10000};
  // How long a server that did not answer is tried last.
  std::chrono::milliseconds holdoff{300000};
};

// What a password server answered, or why there is no answer.
struct PasswordExchange {
  krb5_error_code code = 0;  // 0 when the server answered
  bool abandoned = false;    // nothing sent: the caller had been answered
  bool sent = false;         // the request left for some server (with code != 0: outcome unknown)
  int resultCode = 0;
  std::string resultString;
  std::string server;
};

class RealmTransport {
 public:
  explicit RealmTransport(TransportSettings settings = {});
  RealmTransport(const RealmTransport&) = delete;
  RealmTransport& operator=(const RealmTransport&) = delete;

  void apply(const TransportSettings& settings);
  // Routes the context's KDC messages through this transport (null: through the library's own).
  static void install(krb5_context context, RealmTransport* transport);

  // Sends a KDC message of realm; 0 with the reply, else the library's code for no answer.
  krb5_error_code sendToKdc(krb5_context context, const std::string& realm, const std::string& message,
                            std::string& reply, std::string* server = nullptr);
  // A change (target null) or set with creds, a ticket for kadmin/changepw. handOver (when given)
  // is claimed right before the first byte leaves.
  PasswordExchange changePassword(krb5_context context, krb5_creds* creds, const Shredder& newPassword,
                                  krb5_const_principal target, HandOver* handOver);

  // Sends message (an AS request that holds no secret) to each held-back KDC of realm alone, for
  // one server wait each, so that one that answers is tried first again.
  void probeHeldBack(krb5_context context, const std::string& realm, const std::string& message);

  ServerHealth& health() { return health_; }

  // The settings and the held-back servers as one line, for a helper process to start from
  // ("wait;limit;holdoff;name,name"), and back; false when text is not such a line.
  std::string handOnText() const;
  static bool fromHandOnText(const std::string& text, TransportSettings& settings, std::vector<std::string>& heldBack);
  // The server that answered this thread's last KDC message ("kdc 192.0.2.1:88").
  static std::string lastAnswered();

 private:
  // The servers of realm and the largest message to send them over UDP, looked up again after a while.
  std::vector<KerberosServer> servers(krb5_context context, const std::string& realm, bool kdc,
                                      std::size_t& udpLimit);
  TransportLimits limits(bool tcp) const;

  mutable std::mutex mutex_;
  TransportSettings settings_;
  ServerHealth health_;
  struct Found {
    std::chrono::steady_clock::time_point at;
    std::vector<KerberosServer> servers;
    std::size_t udpLimit = 0;
  };
  std::map<std::string, Found> found_;  // by "kdc REALM" or "kpasswd REALM"
};

}  // namespace vesk::agentd
