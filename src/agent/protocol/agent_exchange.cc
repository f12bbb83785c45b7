#include "agent_exchange.h"

#include <cstring>

namespace vesk::agentproto {

std::string ExchangeFailure::describe() const {
  if (step == ExchangeStep::Encode || step == ExchangeStep::Answer) return why;
  switch (io) {
    case IoStatus::Closed: return "the agent closed the connection";
    case IoStatus::Timeout: return "timed out";
    case IoStatus::Error: return std::strerror(errorNumber);
    case IoStatus::Ok: break;
  }
  return "failed";
}

bool exchange(int fd, const Request& request, Clock::time_point deadline, Reply& reply, ExchangeFailure& failure) {
  SecretBytes frame;
  std::string why;
  if (!encodeRequest(request, frame, why)) {
    failure = {ExchangeStep::Encode, IoStatus::Ok, 0, why};
    return false;
  }
  int errorNumber = 0;
  IoStatus status = writeAll(fd, frame.data(), frame.size(), deadline, errorNumber);
  if (status != IoStatus::Ok) {
    failure = {ExchangeStep::Send, status, errorNumber, std::string()};
    return false;
  }
  InFrame in;
  status = readFrame(fd, in, deadline, deadline, errorNumber);
  if (status != IoStatus::Ok) {
    failure = {ExchangeStep::Receive, status, errorNumber, std::string()};
    return false;
  }
  if (in.headerStatus != HeaderStatus::Ok || !isAnswerType(in.header.type)) {
    failure = {ExchangeStep::Answer, IoStatus::Ok, 0,
               in.headerStatus != HeaderStatus::Ok ? headerStatusText(in.headerStatus) : "not a reply"};
    return false;
  }
  Reply decoded;
  if (!decodeReply(in.header.type, in.payload.data(), in.payload.size(), decoded, why)) {
    failure = {ExchangeStep::Answer, IoStatus::Ok, 0, "malformed: " + why};
    return false;
  }
  reply = std::move(decoded);
  return true;
}

}  // namespace vesk::agentproto
