// What a conversion needs besides its front end: the store's sessions, the item steps and
// the run's options. Both front ends take it from DefaultConversionSetup(), so the window
// and the command line always convert the same way.
#pragma once

#include "run/conversion_run.h"
#include "run/item_step_table.h"

namespace mailvane::run {

struct ConversionSetup {
  SessionFactory session_factory;
  ItemSteps steps;
  RunOptions options;
};

// Our PST engine's sessions, the five real item steps and the default options.
ConversionSetup DefaultConversionSetup();

}  // namespace mailvane::run
