#include "request_handler.h"

#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "agent_socket.h"
#include "cache_helper.h"
#include "kerberos_results.h"

namespace vesk::agentd {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;
using agentproto::Reply;
using agentproto::Request;

constexpr auto kSendTimeout = std::chrono::seconds(5);
// At most one check of the realm in this long; status requests in between read the last one.
constexpr auto kStatusCheckInterval = std::chrono::milliseconds(5000);
// How often the KDCs held back for silence are asked again in the background.
constexpr auto kHeldBackProbeInterval = std::chrono::milliseconds(30000);

// Results that mean the agent got no usable answer from the realm (as opposed to the realm's no).
bool transportFailure(int result) {
  return result == kResultKdcUnreachable || result == kResultKdcTimeout || result == kResultKerberosError ||
         result == kResultOutcomeUnknown || result == kResultKdcNotVerified || result == kResultBadRequest;
}

Reply makeReply(int result, std::string text) {
  Reply reply;
  reply.result = result;
  reply.errorText = std::move(text);
  return reply;
}

std::string outcomeText(const Reply& reply) {
  if (reply.result == kResultSuccess) return "0 (success)";
  std::string text = std::to_string(reply.result);
  if (reply.errorCode != 0 || !reply.errorText.empty()) {
    text += " (code " + std::to_string(reply.errorCode);
    if (!reply.errorText.empty()) text += ": " + reply.errorText;
    text += ")";
  }
  return text;
}

std::string silenceText(const std::string& realm, std::chrono::milliseconds timeout) {
  return "The Kerberos servers of realm " + realm + " did not answer within " + std::to_string(timeout.count()) +
         " ms";
}

// Who answers a request: its serving thread, or the watchdog when the time limit passes first.
struct AnswerClaim {
  std::mutex mutex;
  bool claimed = false;
};

}  // namespace

RequestHandler::RequestHandler(const ServerSettings& settings)
    : realm_(settings.realm),
      kerberos_(settings.realm),
      state_(settings.realm.realm, kerberos_.hostKeytabUsable() ? settings.realm.hostKeytab : std::string()),
      logger_(Logger::GetLogger("agentd")),
      kdcTimeout_(settings.kdcTimeout),
      probeTimeout_(settings.probeTimeout),
      keytabRefusal_(settings.hostKeytabRefusal),
      refusals_(logger_),
      heldBackProbe_([this] { kerberos_.probeHeldBack(); }, kHeldBackProbeInterval) {}

void RequestHandler::applyLimits(const ServerSettings& fresh) {
  kdcTimeout_ = fresh.kdcTimeout;
  probeTimeout_ = fresh.probeTimeout;
  kerberos_.transport().apply(fresh.realm.transport);
}

void RequestHandler::logServing(const std::string& socketPath) const {
  logger_->log(LogLevel::kInfo, "listening on %s for realm %s (Kerberos time limit %lld ms, probe %lld ms)",
               socketPath.c_str(), realm_.realm.c_str(), static_cast<long long>(kdcTimeout_.load().count()),
               static_cast<long long>(probeTimeout_.load().count()));
  const std::string keytab = state_.report().keytab;
  if (!keytabRefusal_.empty()) {
    logger_->log(LogLevel::kError, "host keytab %s; not used: validations %s", keytabRefusal_.c_str(),
                 realm_.hostKeyRequired ? "are refused" : "do not verify the KDC");
  } else if (!keytab.empty()) {
    logger_->log(LogLevel::kInfo, "validations verify the KDC with the host keys in %s", keytab.c_str());
  } else if (realm_.hostKeyRequired) {
    logger_->log(LogLevel::kError, "no host key in %s: validations are refused", realm_.hostKeytab.c_str());
  } else {
    logger_->log(LogLevel::kInfo, "no host key in %s: validations do not verify the KDC", realm_.hostKeytab.c_str());
  }
}

void RequestHandler::checkRealm() const {
  const KdcContact contact = kerberos_.reachKdc();
  logger_->log(LogLevel::kProgress, "realm check: %s", contact.reached ? contact.address.c_str() : contact.reason.c_str());
  if (contact.reached) {
    realmAnswered(contact.address);
  } else {
    state_.lost(contact.reason);
    logger_->log(LogLevel::kWarning, "the realm's KDCs are not reachable: %s", contact.reason.c_str());
  }
}

void RequestHandler::realmAnswered(const std::string& address) const {
  // Connected means validations can succeed: not while they are all refused for want of a host key.
  if (realm_.hostKeyRequired && state_.report().keytab.empty()) {
    state_.lost("the KDCs answer, but " + realm_.hostKeytab + " holds no host key and " +
                "agent.host.keytab.required is set: every validation is refused");
    return;
  }
  state_.reached(address);
}

void RequestHandler::checkRealmAtStart() {
  const auto limit = probeTimeout_.load();
  const Watchdog::Id deadline = watchdog_.arm(Clock::now() + limit, [this, limit] {
    state_.lostIfStarting(silenceText(realm_.realm, limit));
  });
  state_.beginCheck(kStatusCheckInterval);
  checkRealm();
  watchdog_.disarm(deadline);
}

bool RequestHandler::answer(int fd, const Request& request, const Peer& peer) {
  const bool probing = request.type == MessageType::GetUser || request.type == MessageType::Status;
  const auto timeout = probing ? probeTimeout_.load() : kdcTimeout_.load();
  auto claim = std::make_shared<AnswerClaim>();
  const std::string silence = silenceText(realm_.realm, timeout);
  const Reply silent = makeReply(kResultKdcTimeout, silence);
  // A change handed to the password server may still be made after the answer: never call it
  // failed. The credential-cache helper's progress is not seen: its set counts as handed over.
  const Reply unknown = makeReply(
      kResultOutcomeUnknown,
      silence + ": the password may or may not have changed; the agent logs the outcome when it arrives");
  auto handOver = std::make_shared<HandOver>(request.type == MessageType::SetWithCache);
  // What the log record of a late answer needs, without the passwords.
  Request shown;
  shown.type = request.type;
  shown.user = request.user;
  shown.adminUser = request.adminUser;
  shown.cacheName = request.cacheName;
  const auto onLimit = [this, claim, fd, silent, unknown, handOver, peer, shown, silence] {
    std::lock_guard<std::mutex> guard(claim->mutex);
    if (claim->claimed) return;
    claim->claimed = true;
    // From here on the worker sends nothing it had not sent already.
    const bool handedOver = handOver->claimForAnswer();
    const Reply& late = handedOver ? unknown : silent;
    if (!handedOver) state_.lost(silence);
    state_.counted(true);
    logRequest(peer, shown, late);
    sendReply(fd, shown.type == MessageType::Status ? statusReply(false) : late);
    // The caller has its answer; the connection ends once the library gives up.
    shutdown(fd, SHUT_RD);
  };
  // A password check of an account waits its turn after wrong ones from the same user; the wait is
  // not part of the time limit.
  const bool checksPassword = request.type == MessageType::Validate || request.type == MessageType::Change;
  if (checksPassword) {
    const auto wait = delays_.admit(peer.uid, request.user);
    if (!wait) {
      return refuse(fd, peer, "too many wrong passwords of " + request.user + " from uid " +
                                  std::to_string(peer.uid) + " at once; try again later");
    }
    std::this_thread::sleep_for(*wait);
  }
  const Watchdog::Id deadline = watchdog_.arm(Clock::now() + timeout, onLimit);
  Reply reply = handle(request, peer, handOver.get());
  watchdog_.disarm(deadline);
  if (checksPassword && (reply.result == kResultInvalidUser || reply.result == kResultInvalidCredentials)) {
    delays_.wrongPassword(peer.uid, request.user);
  } else if (checksPassword && reply.result == kResultSuccess) {
    delays_.rightPassword(peer.uid, request.user);
  }
  std::lock_guard<std::mutex> guard(claim->mutex);
  const bool lateAnswer = claim->claimed;
  claim->claimed = true;
  if (request.type != MessageType::Status) {
    // The results that need no KDC answer (malformed names, caches) say nothing of the realm.
    if (reply.result == kResultKdcUnreachable || reply.result == kResultKdcTimeout ||
        reply.errorCode == krb5code::kKdcUnreachable || reply.errorCode == krb5code::kRealmUnknown) {
      state_.lost(reply.errorText);
    } else if (reply.result <= kResultNoSuchAccount || reply.result == kResultPasswordServer ||
               reply.result == kResultKdcNotVerified) {
      realmAnswered(RealmTransport::lastAnswered());
    }
    if (!lateAnswer) {
      state_.counted(transportFailure(reply.result),
                     reply.result != kResultSuccess && !transportFailure(reply.result));
    }
  }
  if (lateAnswer) {
    // The caller was told the outcome is unknown (or that the servers were silent): the real one.
    if (request.type != MessageType::Status) logLateOutcome(peer, request, reply);
    return false;
  }
  logRequest(peer, request, reply);
  return sendReply(fd, std::move(reply));
}

Reply RequestHandler::handle(const Request& request, const Peer& peer, HandOver* handOver) const {
  switch (request.type) {
    case MessageType::Validate: return kerberos_.validate(request.user, request.password);
    case MessageType::Change: return kerberos_.change(request.user, request.password, request.oldPassword, handOver);
    case MessageType::Set:
      return kerberos_.set(request.user, request.password, request.adminUser, request.adminPassword, handOver);
    case MessageType::GetUser: return kerberos_.probe(request.user);
    case MessageType::Status: return statusReply(true);
    case MessageType::Authenticate:
    case MessageType::SetWithCache:
      if (geteuid() != 0 && peer.uid != geteuid()) {
        return makeReply(kResultCredentialCache,
                         "this agent does not run as root and uses credential caches only of uid " +
                             std::to_string(geteuid()));
      }
      return runCacheHelper(request, peer.uid, peer.gid, realm_, kerberos_.transport(), kdcTimeout_.load());
    default: return makeReply(kResultBadRequest, "request refused: not an operation");
  }
}

Reply RequestHandler::statusReply(bool check) const {
  // While the first check runs, a second one would only wait for the same servers.
  if (check && !state_.isStarting() && state_.beginCheck(kStatusCheckInterval)) checkRealm();
  StatusReport report = state_.report();
  for (const auto& entry : kerberos_.transport().health().entries()) {
    const char* known = entry.silent ? "silent" : entry.answeredAgo >= 0 ? "answering" : "unknown";
    report.servers.push_back(StatusReport::Server{entry.name, known, entry.answeredAgo});
  }
  Reply reply;
  reply.statusReport = encodeStatus(report);
  return reply;
}

bool RequestHandler::sendReply(int fd, Reply reply) const {
  SecretBytes frame;
  std::string why;
  if (!agentproto::encodeReply(reply, frame, why)) {
    // A text the protocol cannot carry (too long, not printable): say so instead.
    reply.errorText = "the agent's error text could not be sent: " + why;
    reply.principal.clear();
    reply.statusReport.clear();
    if (!agentproto::encodeReply(reply, frame, why)) return false;
  }
  int errorNumber = 0;
  return agentproto::writeAll(fd, frame.data(), frame.size(), Clock::now() + kSendTimeout, errorNumber) ==
         IoStatus::Ok;
}

bool RequestHandler::refuse(int fd, const Peer& peer, const std::string& why, const std::string& refused) {
  logRefusal(peer, refused.empty() ? why : refused + ": " + why);
  return sendReply(fd, makeReply(kResultBadRequest, "request refused: " + why));
}

void RequestHandler::logRequest(const Peer& peer, const Request& request, const Reply& reply) const {
  if (request.type == MessageType::Status) return;
  // A KDC that fails the host-key proof may be a spoof: an error, not a refusal.
  const LogLevel level = reply.result == kResultSuccess        ? LogLevel::kInfo
                         : reply.result == kResultKdcNotVerified ? LogLevel::kError
                                                                 : LogLevel::kWarning;
  const std::string outcome = outcomeText(reply);
  const auto uid = static_cast<unsigned>(peer.uid);
  const auto pid = static_cast<int>(peer.pid);
  const char* operation = agentproto::messageTypeName(request.type);
  if (request.type == MessageType::Set) {
    logger_->log(level, "uid=%u pid=%d account=%s admin=%s operation=%s outcome=%s", uid, pid, request.user.c_str(),
                 request.adminUser.c_str(), operation, outcome.c_str());
  } else if (request.type == MessageType::Authenticate) {
    logger_->log(level, "uid=%u pid=%d account=%s cache=%s operation=%s outcome=%s", uid, pid,
                 reply.principal.empty() ? "-" : reply.principal.c_str(), request.cacheName.c_str(), operation,
                 outcome.c_str());
  } else if (request.type == MessageType::Validate && reply.result == kResultSuccess) {
    // Whether the KDC proved itself with the host key, or the password was taken on its word.
    const bool verified = !state_.report().keytab.empty();
    logger_->log(level, "uid=%u pid=%d account=%s operation=%s outcome=%s kdc=%s", uid, pid, request.user.c_str(),
                 operation, outcome.c_str(), verified ? "verified" : "not-verified");
  } else {
    logger_->log(level, "uid=%u pid=%d account=%s operation=%s outcome=%s", uid, pid, request.user.c_str(), operation,
                 outcome.c_str());
  }
}

void RequestHandler::logLateOutcome(const Peer& peer, const Request& request, const Reply& reply) const {
  logger_->log(reply.result == kResultSuccess ? LogLevel::kInfo : LogLevel::kWarning,
               "uid=%u pid=%d account=%s operation=%s late outcome=%s", static_cast<unsigned>(peer.uid),
               static_cast<int>(peer.pid), request.user.c_str(), agentproto::messageTypeName(request.type),
               outcomeText(reply).c_str());
}

void RequestHandler::logRefusal(const Peer& peer, const std::string& why) {
  if (refusals_.refused(peer.uid, peer.pid, why)) {
    watchdog_.arm(Clock::now() + RefusalLog::kBurst, [this] { refusals_.flush(); });
  }
}

}  // namespace vesk::agentd
