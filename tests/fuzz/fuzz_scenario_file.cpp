// Scenario files of any content: loading one either succeeds or refuses with
// a message that names the file; it never crashes, throws or hangs.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/cli/scenario.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  Scenario s;
  std::string why;
  if (LoadScenarioText(text, "f.yaml", &s, &why)) {
    FUZZ_CHECK(!s.phases.empty());
    for (const ScenarioPhase& p : s.phases) FUZZ_CHECK(p.dSharePct >= 0 && p.dSharePct <= 100);
  } else {
    FUZZ_CHECK(why.rfind("f.yaml:", 0) == 0);
  }
  return 0;
}
