// Remembers the stores that the run's sessions have open, so that the window can make them
// durable when the program ends in the middle of a run: the run stops where it stands, with
// no log-off, and the .pst must still open and hold every item converted up to then.
#pragma once

#include <string>
#include <vector>

#include "run/conversion_run.h"
#include "store/mail_store.h"

namespace mailvane::app {

class StoreTracker {
 public:
  // A factory whose sessions report to this tracker the stores they add, until they log
  // off or are released. The tracker must outlive the sessions.
  run::SessionFactory Track(run::SessionFactory make_session);

  // Commits every store still open. Returns one message per store that failed.
  std::vector<std::string> CommitAll();

  std::size_t OpenStores() const { return open_.size(); }

  void Add(store::Store* store);
  void Forget(const std::vector<store::Store*>& stores);

 private:
  std::vector<store::Store*> open_;
};

}  // namespace mailvane::app
