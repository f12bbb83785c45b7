#include "realm_transport.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "kdc_lookup.h"
#include "kpasswd_protocol.h"

namespace vesk::agentd {
namespace {

using Clock = std::chrono::steady_clock;

// Server names are looked up again after this long (DNS answers change).
constexpr std::chrono::seconds kLookupLifetime{60};
constexpr int kKdcPort = 88;
constexpr int kKpasswdPort = 464;
// What a password request adds to its ticket, at most: authenticator, KRB-PRIV, framing.
constexpr std::size_t kPasswordRequestOverhead = 512;
constexpr krb5_int32 kResponseTooBig = 52;

thread_local std::string lastKdc;

bool responseTooBig(krb5_context context, const std::string& reply) {
  krb5_data data = {};
  data.data = const_cast<char*>(reply.data());
  data.length = static_cast<unsigned int>(reply.size());
  // A KRB-ERROR is [APPLICATION 30].
  if (reply.empty() || static_cast<unsigned char>(reply[0]) != 0x7e) return false;
  krb5_error* error = nullptr;
  if (krb5_rd_error(context, &data, &error) != 0) return false;
  const bool tooBig = error->error == kResponseTooBig;
  krb5_free_error(context, error);
  return tooBig;
}

krb5_error_code KRB5_CALLCONV sendHook(krb5_context context, void* data, const krb5_data* realm,
                                       const krb5_data* message, krb5_data** newMessage, krb5_data** newReply) {
  *newMessage = nullptr;
  *newReply = nullptr;
  std::string reply;
  const krb5_error_code code = static_cast<RealmTransport*>(data)->sendToKdc(
      context, std::string(realm->data, realm->length), std::string(message->data, message->length), reply);
  if (code != 0) return code;
  krb5_data answer = {};
  answer.data = reply.data();
  answer.length = static_cast<unsigned int>(reply.size());
  return krb5_copy_data(context, &answer, newReply);
}

}  // namespace

RealmTransport::RealmTransport(TransportSettings settings) : settings_(settings), health_(settings.holdoff) {}

void RealmTransport::apply(const TransportSettings& settings) {
  std::lock_guard<std::mutex> guard(mutex_);
  settings_ = settings;
  health_.setHoldoff(settings.holdoff);
}

std::string RealmTransport::handOnText() const {
  TransportSettings settings;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    settings = settings_;
  }
  std::string text = std::to_string(settings.serverWait.count()) + ";" + std::to_string(settings.messageLimit.count()) +
                     ";" + std::to_string(settings.holdoff.count()) + ";";
  bool first = true;
  for (const auto& entry : health_.entries()) {
    if (!entry.silent) continue;
    text += (first ? "" : ",") + entry.name;
    first = false;
  }
  return text;
}

bool RealmTransport::fromHandOnText(const std::string& text, TransportSettings& settings,
                                    std::vector<std::string>& heldBack) {
  long long values[3];
  std::size_t at = 0;
  for (long long& value : values) {
    const auto end = text.find(';', at);
    if (end == std::string::npos) return false;
    char* stop = nullptr;
    value = std::strtoll(text.c_str() + at, &stop, 10);
    if (stop != text.c_str() + end || value <= 0) return false;
    at = end + 1;
  }
  settings.serverWait = std::chrono::milliseconds(values[0]);
  settings.messageLimit = std::chrono::milliseconds(values[1]);
  settings.holdoff = std::chrono::milliseconds(values[2]);
  heldBack.clear();
  while (at < text.size()) {
    const auto end = std::min(text.find(',', at), text.size());
    heldBack.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

std::string RealmTransport::lastAnswered() { return lastKdc; }

void RealmTransport::install(krb5_context context, RealmTransport* transport) {
  krb5_set_kdc_send_hook(context, transport == nullptr ? nullptr : sendHook, transport);
}

TransportLimits RealmTransport::limits(bool tcp) const {
  std::lock_guard<std::mutex> guard(mutex_);
  TransportLimits limits;
  limits.perServerWait = settings_.serverWait;
  limits.deadline = Clock::now() + settings_.messageLimit;
  limits.tcp = tcp;
  return limits;
}

std::vector<KerberosServer> RealmTransport::servers(krb5_context context, const std::string& realm, bool kdc,
                                                    std::size_t& udpLimit) {
  const std::string key = (kdc ? "kdc " : "kpasswd ") + realm;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto cached = found_.find(key);
    if (cached != found_.end() && Clock::now() - cached->second.at < kLookupLifetime) {
      udpLimit = cached->second.udpLimit;
      return cached->second.servers;
    }
  }
  KdcLocation location;
  std::string why;
  const bool located = kdc ? locateKdcs(context, realm, location, why) : locatePasswordServers(context, realm, location, why);
  if (!located) return {};
  std::vector<KerberosServer> found =
      resolveServers(location.hosts, kdc ? kKdcPort : kKpasswdPort, kdc ? "kdc" : "kpasswd");
  udpLimit = udpPreferenceLimit(context);
  if (found.empty()) return found;
  std::lock_guard<std::mutex> guard(mutex_);
  found_[key] = Found{Clock::now(), found, udpLimit};
  return found;
}

krb5_error_code RealmTransport::sendToKdc(krb5_context context, const std::string& realm, const std::string& message,
                                          std::string& reply, std::string* server) {
  std::size_t udpLimit = 0;
  const std::vector<KerberosServer> kdcs = servers(context, realm, true, udpLimit);
  if (kdcs.empty()) return KRB5_REALM_CANT_RESOLVE;
  const MessageMaker same = [&message](std::size_t, int, std::string& out) {
    out = message;
    return true;
  };
  bool tcp = message.size() > udpLimit;
  TransportAnswer answer = exchange(kdcs, same, limits(tcp), health_);
  if (answer.outcome == TransportAnswer::kAnswered && !tcp && responseTooBig(context, answer.reply)) {
    tcp = true;
    answer = exchange(kdcs, same, limits(tcp), health_);
  }
  if (answer.outcome != TransportAnswer::kAnswered) return KRB5_KDC_UNREACH;
  reply = std::move(answer.reply);
  lastKdc = kdcs[answer.server].name;
  if (server != nullptr) *server = lastKdc;
  return 0;
}

void RealmTransport::probeHeldBack(krb5_context context, const std::string& realm, const std::string& message) {
  std::size_t udpLimit = 0;
  const std::vector<KerberosServer> kdcs = servers(context, realm, true, udpLimit);
  const MessageMaker same = [&message](std::size_t, int, std::string& out) {
    out = message;
    return true;
  };
  for (const auto& entry : health_.entries()) {
    for (const KerberosServer& kdc : kdcs) {
      if (!entry.silent || entry.name != kdc.name) continue;
      TransportLimits alone = limits(message.size() > udpLimit);
      alone.deadline = Clock::now() + alone.perServerWait;
      exchange({kdc}, same, alone, health_);
    }
  }
}

PasswordExchange RealmTransport::changePassword(krb5_context context, krb5_creds* creds, const Shredder& newPassword,
                                                krb5_const_principal target, HandOver* handOver) {
  PasswordExchange result;
  std::size_t udpLimit = 0;
  const std::string realm(creds->server->realm.data, creds->server->realm.length);
  const std::vector<KerberosServer> servers = this->servers(context, realm, false, udpLimit);
  if (servers.empty()) {
    result.code = KRB5_REALM_CANT_RESOLVE;
    return result;
  }
  std::vector<std::unique_ptr<PasswordRequest>> requests(servers.size());
  std::vector<PasswordExchange> replies(servers.size());
  krb5_error_code buildError = 0;
  const MessageMaker make = [&](std::size_t server, int fd, std::string& message) {
    if (handOver != nullptr && !handOver->claimForSending()) return false;
    requests[server] = std::make_unique<PasswordRequest>(context);
    buildError = requests[server]->build(creds, fd, newPassword, target, message);
    return buildError == 0;
  };
  // Only a success is final on its own: a refusal stands once no other server may have acted.
  const ReplyJudge success = [&](std::size_t server, const std::string& reply) {
    PasswordExchange& read = replies[server];
    read.code = requests[server]->read(reply, read.resultCode, read.resultString);
    return read.code == 0 && read.resultCode == 0;
  };
  const bool tcp = creds->ticket.length + newPassword.size() + kPasswordRequestOverhead > udpLimit;
  const TransportAnswer answer = exchange(servers, make, limits(tcp), health_, success);
  if (answer.outcome == TransportAnswer::kAbandoned && !answer.anySent) {
    result.abandoned = buildError == 0;
    result.code = buildError != 0 ? buildError : KRB5_KDC_UNREACH;
    return result;
  }
  if (answer.outcome != TransportAnswer::kAnswered) {
    result.sent = answer.anySent;
    result.code = KRB5_KDC_UNREACH;
    return result;
  }
  result = replies[answer.server];
  result.sent = true;
  result.server = servers[answer.server].name;
  return result;
}

}  // namespace vesk::agentd
