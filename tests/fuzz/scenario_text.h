// Scenario files as a fuzz input makes them: JSON built from the keys and
// values a scenario knows (tools/scenarios/), with hostile values (negative,
// huge, fractional, wrong types, odd strings), unknown keys, deep nesting,
// and now and then text that is no JSON at all.
#ifndef DAQ_TESTS_FUZZ_SCENARIO_TEXT_H
#define DAQ_TESTS_FUZZ_SCENARIO_TEXT_H

#include <string>

#include "fuzz_source.h"

namespace daqfuzz {

std::string ScenarioText(FuzzSource& in);

}  // namespace daqfuzz

#endif
