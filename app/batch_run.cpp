#include "app/batch_run.h"

#include <exception>
#include <ostream>

#include "app/catalog_run.h"
#include "app/run_list.h"
#include "platform/directory.h"
#include "platform/system.h"

namespace vevura::app {

int RunBatch(const std::string& root_field, const std::string& catalog_field, bool keep_old,
             std::ostream& out, std::ostream& err, bool progress) {
  int status = 0;
  {
    TCatalogRun run;
    TCatalogRunHooks hooks;
    hooks.ShowMessage = [&](const std::string& message) { WriteLine(err, message); };
    hooks.ShowMessageBox = [&](const std::string& text, const std::string&) {
      WriteLine(err, text);
    };
    hooks.OnAddLine = [&](const std::string& line) { WriteLine(out, line); };
    uint64_t last_report = platform::TickCountMs();
    hooks.OnProcessMessages = [&] {
      if (!progress) return;
      const uint64_t now = platform::TickCountMs();
      if (now - last_report < 1000) return;
      last_report = now;
      out.flush();
      err << run.AddedCount() << " records added, in " << platform::CurrentDirectory() << '\n';
      err.flush();
    };
    try {
      if (!run.Run(root_field, catalog_field, !keep_old, hooks)) status = 1;
    } catch (const std::exception& error) {
      out.flush();
      WriteLine(err, error.what());
      status = 1;
    }
    out.flush();
  }
  return status;
}

}  // namespace vevura::app
