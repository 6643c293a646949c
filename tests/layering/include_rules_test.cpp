#include "tests/layering/include_rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/platform/platform_test_support.h"

namespace vevura::layering {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

TEST(Layering, TheTreeFollowsTheRulesItsReadmesState) {
  TLayerRules rules = ReadLayerRules(VEVURA_SOURCE_DIR);
  std::vector<std::string> folders;
  for (const TFolderRule& rule : rules.folders) folders.push_back(rule.folder);
  for (const char* layer :
       {"platform", "engine/base", "engine/storage/common", "engine/storage/blob", "engine/expr",
        "engine/core", "components", "app", "tools", "examples"})
    EXPECT_THAT(folders, ::testing::Contains(layer));
  EXPECT_FALSE(rules.headers.empty());
  std::vector<std::string> violations = CheckLayering(VEVURA_SOURCE_DIR);
  EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
}

TEST(Layering, IncludesAgainstTheRulesAreReported) {
  platform::testing::ScratchDir dir;
  fs::path top = dir.path();
  Write(top / "platform/README.md",
        "| folder | may include |\n|---|---|\n| `platform` | — |\n\n"
        "| header | only in |\n|---|---|\n| `<unistd.h>`, `<sys/` | `platform` |\n");
  Write(top / "engine/README.md",
        "| folder | may include |\n|---|---|\n| `engine/low` | `platform` |\n"
        "| `engine/high` | `engine/low`, `platform` |\n| `engine/odd` |\n");
  Write(top / "platform/os.h", "#include <sys/stat.h>\n#include <unistd.h>\n");
  Write(top / "engine/low/a.h", "#include \"platform/os.h\"\n#include \"engine/high/b.h\"\n");
  Write(
      top / "engine/high/b.h",
      "#include <vector>\n#include \"engine/low/a.h\"\n#include \"a.h\"\n#include <sys/mman.h>\n");
  Write(top / "engine/high/deeper/c.cpp", "#include \"engine/high/b.h\"\n");
  Write(top / "engine/stray/d.cpp", "#include \"engine/low/a.h\"\n");
  EXPECT_THAT(CheckLayering(top),
              ElementsAre(HasSubstr("engine/README.md:5: malformed row"),
                          HasSubstr("engine/high/b.h:3: \"a.h\" does not name a file"),
                          HasSubstr("engine/high/b.h:4: <sys/mman.h> is only for platform"),
                          HasSubstr("engine/low/a.h:2: \"engine/high/b.h\": engine/low may not"),
                          HasSubstr("engine/stray/d.cpp:1: no README row")));
}

}  // namespace
}  // namespace vevura::layering
