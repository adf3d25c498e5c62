// SPDX-License-Identifier: MIT
// Reading the report log's CSV day files (and CSV exports) into the history
// file. A report already there is not added again, so importing twice adds
// nothing.
// Thread: the caller's, with its own HistoryDb.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "history/history_db.h"

namespace rigplot {

struct ImportCounts {
  std::int64_t files = 0;
  std::int64_t added = 0;    // reports new to the file
  std::int64_t present = 0;  // reports it already held
  std::int64_t skipped = 0;  // lines without a readable time or callsign
};

// One CSV text with its header line, in one transaction.
bool ImportCsv(HistoryDb& db, std::string_view csv, ImportCounts& counts, std::string& error);

// Every rigplot-*.csv in `dir`, oldest name first.
bool ImportLogDir(HistoryDb& db, const std::string& dir, ImportCounts& counts, std::string& error);

}  // namespace rigplot
