#include "local_rpc_session.h"
#include "pn.h"
#include "props.h"

namespace vesk {

bool joined() { return !lookupProperty(PN::DOMAIN, std::string()).empty(); }

}  // namespace vesk
