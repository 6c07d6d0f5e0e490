// Reading the administrators' policy from the registry into AdminPolicy.
#ifndef HALVANE_POLICY_REGISTRY_H
#define HALVANE_POLICY_REGISTRY_H

#include "policy/site_policy.h"

// HKLM's key, then HKCU's, value by value (BuildPolicy). Without either key
// the policy is empty and nothing but the two failed opens has happened.
void LoadPolicy(SitePolicy* policy);

#endif
