#pragma once
// A catalog run without a window: the same run as the window's (catalog_run.h)
// with the list written to out as it grows, check messages and errors on err,
// and, when progress is set, one line a second on err telling the directory
// being walked and the records added so far.

#include <iosfwd>
#include <string>

namespace vevura::app {

//! Runs over the two fields as typed; keep_old appends to an existing
//! catalog instead of clearing it. Returns 0 after a complete run, 1 when a
//! check fails or an error ends the run (its message on err).
int RunBatch(const std::string& root_field, const std::string& catalog_field, bool keep_old,
             std::ostream& out, std::ostream& err, bool progress);

}  // namespace vevura::app
