// SPDX-License-Identifier: MIT
// A station output: something the radio link refreshes after every stored
// report (the map script, an open-format file, a report log, a live feed).
//
// The receive worker calls Publish with the station table's lock held, before
// it parses the next byte, so every output sees the same table. An output
// that talks to clients or a slow device copies what it needs here and does
// the slow part on a thread of its own: the worker must never wait for it.
// A failing output returns false with the OS's text; the link records the
// change of health and goes on with the next output and the next byte.
// Thread: Publish and TableCleared on the thread that holds the table's lock
// (the worker, or the front end's clear); Close once, after the worker ended.
#pragma once

#include <string>

#include "stations/station_table.h"

namespace rigplot {

class StationOutput {
 public:
  virtual ~StationOutput() = default;

  // What the output writes to, for the journal and the status page: a file
  // path, or the address of a page.
  virtual std::string name() const = 0;

  // The table holds the report just stored in `slot`. False when the output
  // could not be refreshed; `osError` then says why, in the OS's words.
  virtual bool Publish(const StationTable& table, int slot, std::string& osError) = 0;

  // The table was just emptied. Files keep their last contents until the
  // next report; a live feed tells its clients at once.
  virtual void TableCleared(const StationTable& /*table*/) {}

  // The files were moved aside (log rotation): let go of what is open, so
  // that the next publish opens the files under their names again.
  virtual void Reopen() {}

  // The stop sequence: release whatever is still open. Nothing is published after it.
  virtual void Close() {}
};

}  // namespace rigplot
