// The stand-in host (`veilmora_hostsim`): plays the host application for the effect module,
// for the tests and for the command-line tool.
//
//   host_state.h  the host's callback tables, call log, failure injection, handle and suite
//                 accounting (one host per process)
//   world.h       effect worlds in the three pixel formats, pixel access, bilinear sampling
//   pipl.h        the PiPL byte format and the ELF section that carries it on Linux
//   module.h      loading a module as a host does (library, PiPL, entry by name)
//   instance.h    the command protocol for one applied instance, frames, parameter store
//
// A typical run:
//   auto module = hostsim::load_module("build/bin/Veilmora.so");
//   hostsim::Instance fx(*module);
//   fx.start();                                  // global, params, sequence setup, UI
//   fx.set_float(1, 10.0);                       // "Radius"
//   hostsim::World in(PF_PixelFormat_ARGB32, 64, 64), out(PF_PixelFormat_ARGB32, 64, 64);
//   auto r = fx.render_frame(hostsim::frame_request(in, out));
//   fx.finish();                                 // sequence and global setdown
#pragma once

#include "hostsim/host_state.h"
#include "hostsim/instance.h"
#include "hostsim/module.h"
#include "hostsim/pipl.h"
#include "hostsim/world.h"
