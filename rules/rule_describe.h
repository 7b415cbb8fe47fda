// The texts the rule editor and the rule wizard show for rules and nodes.
//
// A node has a short description, a phrase that the one-line summary of its
// rule strings together ("camera Gate has motion"), and a long description,
// the editor's line for the node ("Motion in camera Gate: 10 seconds").
// Every text goes through the translation catalogues.
//
// cameras answers whether a camera named by a loss-of-signal node exists
// (dvrRuleCameras::motion is -1 for an unknown camera); with none, every named
// camera counts as existing and no warning is shown.
//
// Threads: main thread; a rule of a set is read under the set's lock.
#pragma once

#include <string>

class dvrRule;
class dvrRuleNode;
class dvrRuleCameras;

std::string dvrNodeShortDescription(const dvrRuleNode& node, dvrRuleCameras* cameras = nullptr);
std::string dvrNodeLongDescription(const dvrRuleNode& node, dvrRuleCameras* cameras = nullptr);

// The one-line summary of a rule: its conditions with their join words, and
// with an action "if ..., then ...".
std::string dvrDescribeRule(const dvrRule& rule, dvrRuleCameras* cameras = nullptr);
