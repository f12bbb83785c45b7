#include "agent_server.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <thread>

#include "cache_helper.h"
#include "kerberos_results.h"
#include "paths.h"
#include "pn.h"
#include "props.h"

namespace vesk::agentd {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;
using agentproto::Reply;
using agentproto::Request;

constexpr auto kSendTimeout = std::chrono::seconds(5);
// Serving threads kept waiting in accept() between bursts of connections.
constexpr std::size_t kWaitingThreadsKept = 16;

Reply makeReply(int result, std::string text) {
  Reply reply;
  reply.result = result;
  reply.errorText = std::move(text);
  return reply;
}

std::chrono::milliseconds millisecondsSetting(const char* key, std::chrono::milliseconds fallback) {
  const long value = Props(false).getNumber(key, static_cast<long>(fallback.count()));
  return value > 0 ? std::chrono::milliseconds(value) : fallback;
}

std::string parentDirectory(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The socket's directory must exist, belong to root (or to the agent's own user when it does not
// run as root) and be writable by its owner only, so that nobody can put another socket there.
bool prepareDirectory(const std::string& directory, std::string& why) {
  if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    why = "cannot create " + directory + ": " + std::strerror(errno);
    return false;
  }
  struct stat info;
  if (lstat(directory.c_str(), &info) != 0) {
    why = "cannot inspect " + directory + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    why = directory + " is not a directory";
    return false;
  }
  if (info.st_uid != geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = directory + " must belong to uid " + std::to_string(geteuid()) + " and be writable by its owner only";
    return false;
  }
  return true;
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

}  // namespace

bool ServerSettings::fromProps(ServerSettings& settings, std::string& why) {
  settings.socketPath = lookupProperty(PN::AGENT_SOCKET, kAgentEndpointPath);
  settings.realm.domain = lookupProperty(PN::DOMAIN, std::string());
  settings.realm.realm = lookupProperty(PN::REALM, std::string());
  if (settings.realm.realm.empty()) {
    for (char c : settings.realm.domain) settings.realm.realm += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (settings.realm.realm.empty()) {
    why = std::string("the settings name no realm (keys ") + PN::REALM + " and " + PN::DOMAIN + ")";
    return false;
  }
  settings.kdcTimeout = millisecondsSetting(PN::AGENT_KDC_TIMEOUT_MS, settings.kdcTimeout);
  settings.probeTimeout = millisecondsSetting(PN::AGENT_PROBE_TIMEOUT_MS, settings.probeTimeout);
  settings.idleTimeout = millisecondsSetting(PN::AGENT_IDLE_TIMEOUT_MS, settings.idleTimeout);
  settings.firstRequestTimeout = millisecondsSetting(PN::AGENT_FIRST_REQUEST_TIMEOUT_MS, settings.firstRequestTimeout);
  const long connections = Props(false).getNumber(PN::AGENT_MAX_CONNECTIONS, static_cast<long>(settings.maxConnections));
  if (connections > 0) settings.maxConnections = static_cast<std::size_t>(connections);
  const long perUid =
      Props(false).getNumber(PN::AGENT_MAX_CONNECTIONS_PER_UID, static_cast<long>(settings.maxConnectionsPerUid));
  if (perUid > 0) settings.maxConnectionsPerUid = static_cast<std::size_t>(perUid);
  settings.realm.hostKeytab = lookupProperty(PN::AGENT_HOST_KEYTAB, kDefaultHostKeytabPath);
  const std::string required = lower(lookupProperty(PN::AGENT_HOST_KEYTAB_REQUIRED, std::string()));
  settings.realm.hostKeyRequired = required == "true" || required == "yes" || required == "1";
  return true;
}

AgentServer::AgentServer(ServerSettings settings)
    : settings_(std::move(settings)),
      kerberos_(settings_.realm),
      state_(settings_.realm.realm, kerberos_.hostKeytabUsable() ? settings_.realm.hostKeytab : std::string()),
      logger_(Logger::GetLogger("agentd")),
      kdcTimeout_(settings_.kdcTimeout),
      probeTimeout_(settings_.probeTimeout),
      idleTimeout_(settings_.idleTimeout),
      maxConnections_(settings_.maxConnections) {}

bool AgentServer::applySettings(const ServerSettings& fresh) {
  kdcTimeout_ = fresh.kdcTimeout;
  probeTimeout_ = fresh.probeTimeout;
  idleTimeout_ = fresh.idleTimeout;
  maxConnections_ = fresh.maxConnections;
  return fresh.socketPath == settings_.socketPath && fresh.realm.realm == settings_.realm.realm &&
         fresh.realm.domain == settings_.realm.domain;
}

AgentServer::~AgentServer() { removeSocket(); }

bool AgentServer::listen(std::string& why) {
  const std::string& path = settings_.socketPath;
  // The socket is made under a temporary name and renamed into place once it listens, so that a
  // client never finds a socket that refuses it.
  const std::string fresh = path + ".new-" + std::to_string(getpid());
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || fresh.size() >= sizeof address.sun_path) {
    why = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, fresh.data(), fresh.size());
  if (!prepareDirectory(parentDirectory(path), why)) return false;
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
    why = path + " exists and is not a socket";
    return false;
  }
  unlink(fresh.c_str());
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) {
    why = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  if (bind(fd.get(), reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
    why = "cannot bind " + fresh + ": " + std::strerror(errno);
    return false;
  }
  // Any local user may ask; the agent learns who asks from the connection.
  if (chmod(fresh.c_str(), 0666) != 0 || ::listen(fd.get(), 128) != 0 || lstat(fresh.c_str(), &info) != 0 ||
      rename(fresh.c_str(), path.c_str()) != 0) {
    why = "cannot set up the socket " + path + ": " + std::strerror(errno);
    unlink(fresh.c_str());
    return false;
  }
  socketDevice_ = info.st_dev;
  socketInode_ = info.st_ino;
  listener_ = std::move(fd);
  if (logger_) {
    logger_->log(2, "listening on %s for realm %s (Kerberos time limit %lld ms, probe %lld ms)", path.c_str(),
                 settings_.realm.realm.c_str(), static_cast<long long>(kdcTimeout_.load().count()),
                 static_cast<long long>(probeTimeout_.load().count()));
    const std::string keytab = state_.report().keytab;
    if (keytab.empty()) {
      logger_->log(settings_.realm.hostKeyRequired ? 4 : 2, "no host key in %s: validations %s",
                   settings_.realm.hostKeytab.c_str(),
                   settings_.realm.hostKeyRequired ? "are refused" : "do not verify the KDC");
    } else {
      logger_->log(2, "validations verify the KDC with the host keys in %s", keytab.c_str());
    }
  }
  return true;
}

void AgentServer::removeSocket() {
  if (socketInode_ == 0) return;
  struct stat info;
  // Only the socket this agent made: a newer agent may already have replaced it.
  if (lstat(settings_.socketPath.c_str(), &info) == 0 && info.st_dev == socketDevice_ && info.st_ino == socketInode_) {
    unlink(settings_.socketPath.c_str());
  }
  socketInode_ = 0;
}

void AgentServer::startThreadLocked() {
  try {
    std::thread([this] { serveLoop(); }).detach();
  } catch (const std::system_error& e) {
    if (logger_) logger_->log(4, "cannot start a serving thread: %s", e.what());
    return;
  }
  ++threads_;
  ++waiting_;
}

void AgentServer::checkRealm() const {
  const KdcContact contact = kerberos_.reachKdc();
  if (contact.reached) {
    state_.reached(contact.address);
  } else {
    state_.lost(contact.reason);
    if (logger_) logger_->log(3, "the realm's KDCs are not reachable: %s", contact.reason.c_str());
  }
}

bool AgentServer::run(int stopFd) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    startThreadLocked();
    // The state is "starting" until this first check of the realm ends, at most the probe's time.
    watchdog_.arm(Clock::now() + probeTimeout_.load(), [this] {
      state_.lostIfStarting("The Kerberos servers of realm " + settings_.realm.realm + " did not answer within " +
                            std::to_string(probeTimeout_.load().count()) + " ms");
    });
    try {
      std::thread([this] {
        checkRealm();
        std::lock_guard<std::mutex> done(mutex_);
        --threads_;
        threadsDone_.notify_all();
      }).detach();
      ++threads_;
    } catch (const std::system_error& e) {
      if (logger_) logger_->log(4, "cannot start the realm check: %s", e.what());
    }
  }
  for (;;) {
    struct pollfd entry = {stopFd, POLLIN, 0};
    const int n = poll(&entry, 1, -1);
    if (n > 0) break;
    if (n < 0 && errno != EINTR) break;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  // Wakes every thread waiting in accept() (it fails with EINVAL), and ends the open connections.
  shutdown(listener_.get(), SHUT_RDWR);
  for (int fd : connections_) shutdown(fd, SHUT_RDWR);
  removeSocket();
  const bool ended = threadsDone_.wait_for(lock, std::chrono::seconds(2), [this] { return threads_ == 0; });
  if (!ended && logger_) logger_->log(2, "%zu connections still wait for the Kerberos library", threads_);
  return ended;
}

void AgentServer::serveLoop() {
  for (;;) {
    UniqueFd fd(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int acceptError = errno;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      const bool transient = acceptError == EINTR || acceptError == ECONNABORTED || acceptError == EMFILE ||
                             acceptError == ENFILE || acceptError == ENOBUFS || acceptError == ENOMEM;
      if (stopping_ || (!fd.valid() && !transient)) {
        if (!stopping_ && logger_) logger_->log(4, "the listener failed: %s", std::strerror(acceptError));
        --waiting_;
        --threads_;
        threadsDone_.notify_all();
        return;
      }
      if (fd.valid()) {
        --waiting_;
        connections_.insert(fd.get());
        if (waiting_ == 0 && threads_ < maxConnections_.load()) startThreadLocked();
      }
    }
    if (!fd.valid()) {
      if (acceptError != EINTR && acceptError != ECONNABORTED) {
        if (logger_) logger_->log(4, "cannot accept a connection: %s", std::strerror(acceptError));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      continue;
    }
    struct ucred credentials;
    socklen_t size = sizeof credentials;
    bool admitted = false;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
      const Peer peer{credentials.pid, credentials.uid, credentials.gid};
      {
        std::lock_guard<std::mutex> guard(mutex_);
        admitted = admitLocked(peer.uid);
      }
      if (admitted) {
        serveConnection(fd.get(), peer);
      } else {
        const std::string why = "uid " + std::to_string(peer.uid) + " holds " +
                                std::to_string(settings_.maxConnectionsPerUid) + " connections already";
        logRefusal(peer, why);
        sendReply(fd.get(), makeReply(kResultBadRequest, "request refused: " + why));
      }
    } else if (logger_) {
      logger_->log(3, "cannot identify a caller: %s", std::strerror(errno));
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (admitted && credentials.uid != 0 && --connectionsOfUid_[credentials.uid] == 0) {
      connectionsOfUid_.erase(credentials.uid);
    }
    connections_.erase(fd.get());
    fd.reset();
    if (stopping_ || waiting_ >= kWaitingThreadsKept) {
      --threads_;
      threadsDone_.notify_all();
      return;
    }
    ++waiting_;
  }
}

bool AgentServer::admitLocked(uid_t uid) {
  // Root is not capped: the login services that validate passwords for everyone run as root.
  if (uid == 0) return true;
  std::size_t& open = connectionsOfUid_[uid];
  if (open >= settings_.maxConnectionsPerUid) {
    if (open == 0) connectionsOfUid_.erase(uid);
    return false;
  }
  ++open;
  return true;
}

void AgentServer::serveConnection(int fd, const Peer& peer) {
  for (bool first = true;; first = false) {
    agentproto::InFrame frame;
    // A connection that asks nothing at first is dropped soon: it holds a serving thread.
    const auto deadline = Clock::now() + (first ? settings_.firstRequestTimeout : idleTimeout_.load());
    int errorNumber = 0;
    const IoStatus status = agentproto::readFrame(fd, frame, deadline, deadline, errorNumber);
    if (status != IoStatus::Ok) {
      if (status == IoStatus::Timeout) logRefusal(peer, "connection silent for too long");
      return;
    }
    if (frame.headerStatus != agentproto::HeaderStatus::Ok || frame.header.type == MessageType::Reply) {
      // The stream cannot be followed past a bad header: answer and close.
      std::string why = frame.headerStatus != agentproto::HeaderStatus::Ok
                            ? agentproto::headerStatusText(frame.headerStatus)
                            : "a reply is not a request";
      if (frame.headerStatus == agentproto::HeaderStatus::BadVersion) {
        // Appended piece by piece: GCC 12 at -O3 takes `" " + std::string` for an overlapping copy
        // (a false -Wrestrict).
        why.append(" ").append(std::to_string(frame.header.version));
        why.append("; this agent speaks version ").append(std::to_string(agentproto::kProtocolVersion));
      }
      logRefusal(peer, why);
      sendReply(fd, makeReply(kResultBadRequest, "request refused: " + why));
      return;
    }
    Request request;
    std::string why;
    const bool decoded =
        agentproto::decodeRequest(frame.header.type, frame.payload.data(), frame.payload.size(), request, why);
    wipeMemory(frame.payload.data(), frame.payload.size());
    if (!decoded) {
      logRefusal(peer, std::string(agentproto::messageTypeName(frame.header.type)) + ": " + why);
      if (!sendReply(fd, makeReply(kResultBadRequest, "request refused: " + why))) return;
      continue;
    }
    if (!answer(fd, request, peer)) return;
  }
}

namespace {

// Who answers a request: its serving thread, or the watchdog when the time limit passes first.
struct AnswerClaim {
  std::mutex mutex;
  bool claimed = false;
};

}  // namespace

bool AgentServer::answer(int fd, const Request& request, const Peer& peer) {
  const bool probing = request.type == MessageType::GetUser || request.type == MessageType::Status;
  const auto timeout = probing ? probeTimeout_.load() : kdcTimeout_.load();
  auto claim = std::make_shared<AnswerClaim>();
  const std::string silence = "The Kerberos servers of realm " + settings_.realm.realm + " did not answer within " +
                              std::to_string(timeout.count()) + " ms";
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
  const Watchdog::Id deadline = watchdog_.arm(Clock::now() + timeout, onLimit);
  Reply reply = handle(request, peer, handOver.get());
  watchdog_.disarm(deadline);
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
      state_.reached(std::string());
    }
    if (!lateAnswer) state_.counted(reply.result != kResultSuccess);
  }
  if (lateAnswer) {
    // The caller was told the outcome is unknown (or that the servers were silent): the real one.
    if (logger_ && request.type != MessageType::Status) {
      logger_->log(reply.result == kResultSuccess ? 2 : 3, "uid=%u pid=%d account=%s operation=%s late outcome=%s",
                   static_cast<unsigned>(peer.uid), static_cast<int>(peer.pid), request.user.c_str(),
                   agentproto::messageTypeName(request.type), outcomeText(reply).c_str());
    }
    return false;
  }
  logRequest(peer, request, reply);
  return sendReply(fd, std::move(reply));
}

Reply AgentServer::handle(const Request& request, const Peer& peer, HandOver* handOver) const {
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
      return runCacheHelper(request, peer.uid, peer.gid, settings_.realm, kdcTimeout_.load());
    default: return makeReply(kResultBadRequest, "request refused: not an operation");
  }
}

Reply AgentServer::statusReply(bool check) const {
  // While the first check runs, a second one would only wait for the same servers.
  if (check && !state_.isStarting()) checkRealm();
  return makeReply(kResultSuccess, encodeStatus(state_.report()));
}

bool AgentServer::sendReply(int fd, Reply reply) const {
  SecretBytes frame;
  std::string why;
  if (!agentproto::encodeReply(reply, frame, why)) {
    // A text the protocol cannot carry (too long, not printable): say so instead.
    reply.errorText = "the agent's error text could not be sent: " + why;
    reply.principal.clear();
    if (!agentproto::encodeReply(reply, frame, why)) return false;
  }
  int errorNumber = 0;
  return agentproto::writeAll(fd, frame.data(), frame.size(), Clock::now() + kSendTimeout, errorNumber) ==
         IoStatus::Ok;
}

void AgentServer::logRequest(const Peer& peer, const Request& request, const Reply& reply) const {
  if (!logger_) return;
  if (request.type == MessageType::Status) return;
  // A KDC that fails the host-key proof may be a spoof: an error, not a refusal.
  const int level = reply.result == kResultSuccess ? 2 : reply.result == kResultKdcNotVerified ? 4 : 3;
  const std::string outcome = outcomeText(reply);
  if (request.type == MessageType::Set) {
    logger_->log(level, "uid=%u pid=%d account=%s admin=%s operation=%s outcome=%s", static_cast<unsigned>(peer.uid),
                 static_cast<int>(peer.pid), request.user.c_str(), request.adminUser.c_str(),
                 agentproto::messageTypeName(request.type), outcome.c_str());
  } else if (request.type == MessageType::Authenticate) {
    logger_->log(level, "uid=%u pid=%d account=%s cache=%s operation=%s outcome=%s", static_cast<unsigned>(peer.uid),
                 static_cast<int>(peer.pid), reply.principal.empty() ? "-" : reply.principal.c_str(),
                 request.cacheName.c_str(), agentproto::messageTypeName(request.type), outcome.c_str());
  } else {
    logger_->log(level, "uid=%u pid=%d account=%s operation=%s outcome=%s", static_cast<unsigned>(peer.uid),
                 static_cast<int>(peer.pid), request.user.c_str(), agentproto::messageTypeName(request.type),
                 outcome.c_str());
  }
}

void AgentServer::logRefusal(const Peer& peer, const std::string& why) const {
  if (!logger_) return;
  logger_->log(3, "uid=%u pid=%d account=- operation=- outcome=refused: %s", static_cast<unsigned>(peer.uid),
               static_cast<int>(peer.pid), why.c_str());
}

}  // namespace vesk::agentd
