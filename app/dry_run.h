#pragma once
// A catalog run without a catalog table: the directory checks, the walk and
// the list, for trying a tree of LIC files from the command line.
//
// The list goes to out as the walk makes it, one line per text line. Every
// usable LIC file counts as added, but nothing is written: no table, and no
// list file.

#include <iosfwd>
#include <string>

namespace vevura::app {

//! Runs the checks and the walk for the two fields as typed. Returns 0 after a
//! complete walk; 1 when a check fails (its message on err, nothing on out) or
//! an error ends the walk (its message on err, the list so far on out).
int RunDryRun(const std::string& root_field, const std::string& catalog_field, std::ostream& out,
              std::ostream& err);

}  // namespace vevura::app
