#pragma once

// Everything an end-to-end test of the programs needs, room by room:
// - files.hpp: where the programs and pictures are, scratch folders, reading output back;
// - process.hpp: child processes (any program, with its environment, folder and user), run
//   to their end or driven and signalled, and the bounds on waiting for them;
// - x_client.hpp: the suite's X connection (windows, geometry, keys and pointer as a user);
// - keys.hpp: the server's key map (XQueryKeymap) and a window that records keys;
// - screen.hpp: screenshots, colour predicates and the sample's histogram bin;
// - fixture.hpp: test clips and the ProgramTest fixture with its private Xvfb.
// A new test bed (a terminal or compositor as the receiver, say) goes in a header of its own
// that includes the rooms it needs.

#include "files.hpp"
#include "fixture.hpp"
#include "keys.hpp"
#include "process.hpp"
#include "screen.hpp"
#include "x_client.hpp"
