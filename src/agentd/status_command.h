// "kestrovad status": the client side of the status request.
#pragma once

namespace vesk::agentd {

// Asks the running agent through its socket and prints its state. Exits 0 only when the agent is
// connected to its realm.
int statusMain();

}  // namespace vesk::agentd
