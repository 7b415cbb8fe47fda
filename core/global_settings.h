// The global settings of the recorder, declared at start-up into the global
// setting set (kind "global", name "global") in their fixed order with their
// defaults, labels and help texts.
#pragma once

class dvrSettingSet;

void dvrDeclareGlobalSettings(dvrSettingSet& globals);
