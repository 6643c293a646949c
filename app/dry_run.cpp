#include "app/dry_run.h"

#include <exception>
#include <ostream>

#include "app/lic_walk.h"
#include "app/run_list.h"
#include "app/run_validation.h"

namespace vevura::app {

int RunDryRun(const std::string& root_field, const std::string& catalog_field, std::ostream& out,
              std::ostream& err) {
  TRunDirectories dirs;
  std::string message = ValidateRunDirectories(root_field, catalog_field, &dirs);
  if (!message.empty()) {
    WriteLine(err, message);
    return 1;
  }
  WriteLine(out, RootDirLine(dirs.RootDir));
  WriteLine(out, CatalogDirLine(dirs.CatalogDir));
  TLicWalkEvents events;
  events.OnAddLine = [&out](const std::string& line) { WriteLine(out, line); };
  TLicWalk walk(events);
  walk.SetAddedCount(0);
  try {
    walk.SearchForLICS(root_field);
  } catch (const std::exception& error) {
    out.flush();
    WriteLine(err, error.what());
    return 1;
  }
  out.flush();
  return 0;
}

}  // namespace vevura::app
