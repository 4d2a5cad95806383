/* port!: an object that stands for an external resource reached through a scheme. A child of object!
   with its cell (class id 2, no change handlers) and the fields of system/standard/port: spec, scheme,
   actor, awake, state, data, extra.

   The port does nothing with the resource itself: its actor does. An object actor has a function per
   action, named after it; the port!'s row from append on holds the forwarders that call them
   (evaluator/port_actor.h, handed to init by start-up). A handle! actor names a native table of
   implementations registered here: every action from append on is taken from that table, an empty
   entry raising access no-port-action.

   make takes a spec object, or a block that fills a copy of system/standard/url-parts; its scheme field
   must hold a word, whose entry in system/schemes is the scheme object whose actor the port takes.
   Form and mold both write "make port! [" and the fields.

   Rules: make allocates and may run code (the spec block); the native tables are registered at
   start-up and never change. */
#pragma once

#include <initializer_list>
#include <span>

#include "runtime/registry.h"

namespace oka::port {

// The field positions of a port.
enum Field : uint32_t { kSpec, kScheme, kActor, kAwake, kState, kData, kExtra };

// Registers port! (after object!) with the forwarders of the actions from append on.
void init(std::span<const ActionEntry> forwarders);

// The port's actor, which must be an object! (access invalid-port).
Cell get_actor(const Cell& port);

// Registers a native actor: implementations of actions from append on. Answers the value a handle!
// actor holds to name it.
int32_t register_native_actor(std::initializer_list<ActionEntry> actions);

}  // namespace oka::port
