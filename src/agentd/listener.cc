#include "listener.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "agent_socket.h"
#include "logger.h"

namespace vesk::agentd {
namespace {

using agentproto::Clock;
using agentproto::IoStatus;
using agentproto::MessageType;

// Serving threads kept waiting in accept() between bursts of connections.
constexpr std::size_t kWaitingThreadsKept = 16;

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

// Why a frame's header cannot be followed (the stream is lost past it), or empty when it can.
std::string headerRefusal(const agentproto::InFrame& frame) {
  if (frame.headerStatus == agentproto::HeaderStatus::Ok) {
    return agentproto::isAnswerType(frame.header.type) ? "a reply is not a request" : std::string();
  }
  std::string why = agentproto::headerStatusText(frame.headerStatus);
  if (frame.headerStatus == agentproto::HeaderStatus::BadVersion) {
    // Appended piece by piece: GCC 12 at -O3 takes `" " + std::string` for an overlapping copy
    // (a false -Wrestrict).
    why.append(" ").append(std::to_string(frame.header.version));
    why.append("; this agent speaks version ").append(std::to_string(agentproto::kProtocolVersion));
  }
  return why;
}

}  // namespace

Listener::Listener(const ServerSettings& settings, RequestHandler& handler)
    : socketPath_(settings.socketPath),
      maxConnectionsPerUid_(settings.maxConnectionsPerUid),
      admissionWait_(settings.admissionWait),
      rootConnections_(settings.rootConnections),
      firstRequestTimeout_(settings.firstRequestTimeout),
      idleTimeout_(settings.idleTimeout),
      maxConnections_(settings.maxConnections),
      handler_(handler),
      pit_(settings.admissionWait,
           [&handler](int fd, const Peer& peer, const std::string& why) { handler.refuse(fd, peer, why); }) {}

Listener::~Listener() { removeSocket(); }

void Listener::applyLimits(const ServerSettings& fresh) {
  idleTimeout_ = fresh.idleTimeout;
  maxConnections_ = fresh.maxConnections;
}

bool Listener::listen(std::string& why) {
  const std::string& path = socketPath_;
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
  return true;
}

void Listener::removeSocket() {
  if (socketInode_ == 0) return;
  struct stat info;
  // Only the socket this agent made: a newer agent may already have replaced it.
  if (lstat(socketPath_.c_str(), &info) == 0 && info.st_dev == socketDevice_ && info.st_ino == socketInode_) {
    unlink(socketPath_.c_str());
  }
  socketInode_ = 0;
}

void Listener::startThreadLocked() {
  try {
    std::thread([this] { serveLoop(); }).detach();
  } catch (const std::system_error& e) {
    Logger::GetLogger("agentd")->log(LogLevel::kError, "cannot start a serving thread: %s", e.what());
    return;
  }
  ++threads_;
  ++waiting_;
}

void Listener::spawn(std::function<void()> work) {
  std::lock_guard<std::mutex> guard(mutex_);
  try {
    std::thread([this, work = std::move(work)] {
      work();
      std::lock_guard<std::mutex> done(mutex_);
      --threads_;
      threadsDone_.notify_all();
    }).detach();
    ++threads_;
  } catch (const std::system_error& e) {
    Logger::GetLogger("agentd")->log(LogLevel::kError, "cannot start a thread: %s", e.what());
  }
}

bool Listener::run(int stopFd) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    startThreadLocked();
  }
  for (;;) {
    struct pollfd entry = {stopFd, POLLIN, 0};
    const int n = poll(&entry, 1, -1);
    if (n > 0) break;
    if (n < 0 && errno != EINTR) break;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  stopping_ = true;
  connectionEnded_.notify_all();
  // Wakes every thread waiting in accept() (it fails with EINVAL), and ends the open connections.
  shutdown(listener_.get(), SHUT_RDWR);
  for (int fd : connections_) shutdown(fd, SHUT_RDWR);
  removeSocket();
  const bool ended = threadsDone_.wait_for(lock, std::chrono::seconds(2), [this] { return threads_ == 0; });
  if (!ended) {
    Logger::GetLogger("agentd")->log(LogLevel::kInfo, "%zu connections still wait for the Kerberos library",
                                     threads_);
  }
  return ended;
}

void Listener::serveLoop() {
  const auto logger = Logger::GetLogger("agentd");
  for (;;) {
    UniqueFd fd(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const int acceptError = errno;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      const bool transient = acceptError == EINTR || acceptError == ECONNABORTED || acceptError == EMFILE ||
                             acceptError == ENFILE || acceptError == ENOBUFS || acceptError == ENOMEM;
      if (stopping_ || (!fd.valid() && !transient)) {
        if (!stopping_) logger->log(LogLevel::kError, "the listener failed: %s", std::strerror(acceptError));
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
        logger->log(LogLevel::kError, "cannot accept a connection: %s", std::strerror(acceptError));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      continue;
    }
    struct ucred credentials;
    socklen_t size = sizeof credentials;
    bool admitted = false;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
      const Peer peer{credentials.pid, credentials.uid, credentials.gid};
      std::string why;
      const Admission admission = admit(peer.uid, why);
      admitted = admission == Admission::Admitted;
      if (admitted) {
        serveConnection(fd.get(), peer);
      } else if (admission == Admission::Refused) {
        handler_.refuse(fd.get(), peer, why);
      } else {
        {
          std::lock_guard<std::mutex> guard(mutex_);
          connections_.erase(fd.get());
        }
        if (!pit_.hold(fd, peer, why)) handler_.refuse(fd.get(), peer, why);
      }
    } else {
      logger->log(LogLevel::kWarning, "cannot identify a caller: %s", std::strerror(errno));
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (admitted) releaseLocked(credentials.uid);
    if (fd.valid()) connections_.erase(fd.get());
    fd.reset();
    if (stopping_ || waiting_ >= kWaitingThreadsKept) {
      --threads_;
      threadsDone_.notify_all();
      return;
    }
    ++waiting_;
  }
}

Listener::Admission Listener::admit(uid_t uid, std::string& why) {
  // Root's connections are the host's own logins (the login services validate for everyone).
  if (uid == 0) return Admission::Admitted;
  const auto countOf = [](const std::map<uid_t, std::size_t>& counts, uid_t key) {
    const auto found = counts.find(key);
    return found == counts.end() ? std::size_t(0) : found->second;
  };
  std::unique_lock<std::mutex> lock(mutex_);
  const std::size_t maximum = maxConnections_.load();
  const std::size_t share = maximum > rootConnections_ ? maximum - rootConnections_ : 1;
  if (usersBusy_ >= share) {
    why = "the serving threads left are kept for root";
    return Admission::RefusedAtOnce;
  }
  const auto hasRoom = [&] { return stopping_ || countOf(connectionsOfUid_, uid) < maxConnectionsPerUid_; };
  const std::string full = "uid " + std::to_string(uid) + " holds " + std::to_string(maxConnectionsPerUid_) +
                           " connections already";
  if (!hasRoom()) {
    if (countOf(waitingOfUid_, uid) >= maxConnectionsPerUid_) {
      why = full + " and as many wait";
      return Admission::RefusedAtOnce;
    }
    ++waitingOfUid_[uid];
    ++usersBusy_;
    const bool room = connectionEnded_.wait_for(lock, admissionWait_, hasRoom);
    --usersBusy_;
    if (--waitingOfUid_[uid] == 0) waitingOfUid_.erase(uid);
    if (!room || stopping_) {
      why = full + " (waited " + std::to_string(admissionWait_.count()) + " ms)";
      return Admission::Refused;
    }
  }
  ++connectionsOfUid_[uid];
  ++usersBusy_;
  return Admission::Admitted;
}

void Listener::releaseLocked(uid_t uid) {
  if (uid == 0) return;
  --usersBusy_;
  if (--connectionsOfUid_[uid] == 0) connectionsOfUid_.erase(uid);
  connectionEnded_.notify_all();
}

void Listener::serveConnection(int fd, const Peer& peer) {
  for (bool first = true;; first = false) {
    agentproto::InFrame frame;
    // A connection that asks nothing at first is dropped soon: it holds a serving thread.
    const auto deadline = Clock::now() + (first ? firstRequestTimeout_ : idleTimeout_.load());
    int errorNumber = 0;
    const IoStatus status = agentproto::readFrame(fd, frame, deadline, deadline, errorNumber);
    if (status != IoStatus::Ok) {
      // After its answers a connection may simply end; one that never asked was refused.
      if (status == IoStatus::Timeout && first) handler_.logRefusal(peer, "no request within the time limit");
      return;
    }
    const std::string lost = headerRefusal(frame);
    if (!lost.empty()) {
      handler_.refuse(fd, peer, lost);
      return;
    }
    agentproto::Request request;
    std::string why;
    const bool decoded =
        agentproto::decodeRequest(frame.header.type, frame.payload.data(), frame.payload.size(), request, why);
    wipeMemory(frame.payload.data(), frame.payload.size());
    if (!decoded) {
      if (!handler_.refuse(fd, peer, why, agentproto::messageTypeName(frame.header.type))) return;
      continue;
    }
    if (!handler_.answer(fd, request, peer)) return;
  }
}

}  // namespace vesk::agentd
