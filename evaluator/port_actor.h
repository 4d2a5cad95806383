/* The port!'s actions from append on when its actor is an object: each calls the actor's function named
   after the action, in a function frame named by the action's word, with the port and then the action's
   arguments in the order of its spec, a refinement passed as a logic! flag followed by its argument
   (none when not given). A function the actor lacks raises access no-port-action with the word. open?
   is not forwarded. For copy the function's result also fills the result cell; for the others it is the
   action's result.

   read and write are made of the others: read opens the port (only /seek as given), copies from it with
   /part and closes it; write opens it with /write, inserts the data (/part when an integer), copies from
   it and closes it, the copy being the result. A copy or insert that ends in an error or any other
   throw closes the port before the throw goes on.

   Rules: every forwarder may run any code. */
#pragma once

#include <span>

#include "runtime/registry.h"

namespace oka::port_actor {

// The forwarders, for port!'s registration.
std::span<const ActionEntry> forwarders();

}  // namespace oka::port_actor
