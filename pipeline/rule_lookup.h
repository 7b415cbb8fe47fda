// How the capture threads ask for the value of a rule by name. The rule set
// lives in a library above this one: it implements this interface (evaluating
// with its recursion depth limit of 256) and installs it at start-up. Without
// one every name counts as a rule that does not exist.
//
// Threads: ruleValue is called by every capture thread with that camera's
// codec and image locks held. The installer keeps it alive until every
// camera is stopped.
#pragma once

#include <string_view>

class dvrRuleLookup {
 public:
  virtual ~dvrRuleLookup() = default;
  // 1 when the rule of that name is true, 0 when it is false, -1 when no rule
  // has that name.
  virtual int ruleValue(std::string_view name) = 0;
};

// The process's rule lookup, or null.
dvrRuleLookup* dvrRuleLookupInstance();
void dvrSetRuleLookup(dvrRuleLookup* lookup);
