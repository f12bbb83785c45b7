// One request and its answer on a connected agent socket, under one deadline: the exchange that the
// client, "kestrovad status" and the credential-cache helper's parent all make.
#pragma once

#include <string>

#include "agent_protocol.h"
#include "agent_socket.h"

namespace vesk::agentproto {

// Where an exchange stopped.
enum class ExchangeStep {
  Encode,   // the request could not be encoded: nothing was sent
  Send,     // the request was not taken whole
  Receive,  // no answer frame arrived
  Answer,   // a frame arrived that is not a well-formed answer
};

struct ExchangeFailure {
  ExchangeStep step = ExchangeStep::Encode;
  IoStatus io = IoStatus::Ok;  // Send and Receive: how the socket failed
  int errorNumber = 0;         // Send and Receive with IoStatus::Error: errno
  std::string why;             // Encode and Answer: what was wrong

  // A short text for messages: "the agent closed the connection", "timed out", the reason.
  std::string describe() const;
};

// Encodes request, writes it, reads one answer frame and decodes it into reply, all before deadline.
// On failure reply is untouched and failure says where the exchange stopped.
bool exchange(int fd, const Request& request, Clock::time_point deadline, Reply& reply, ExchangeFailure& failure);

}  // namespace vesk::agentproto
