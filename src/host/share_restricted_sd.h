#pragma once
// A security descriptor whose access list grants Everyone full access, for sections that other
// processes of the suite (running as other users or integrity levels) must be able to open.

#include "platform/windows.h"

class CShareRestrictedSD {
public:
    CShareRestrictedSD();
    virtual ~CShareRestrictedSD();
    CShareRestrictedSD(const CShareRestrictedSD&) = delete;
    CShareRestrictedSD& operator=(const CShareRestrictedSD&) = delete;

    // Null when the access list could not be built; callers then use default security.
    SECURITY_ATTRIBUTES* securityAttributes();

private:
    PACL acl_ = nullptr;
    SECURITY_ATTRIBUTES attributes_ = {};
    SECURITY_DESCRIPTOR descriptor_ = {};
};
