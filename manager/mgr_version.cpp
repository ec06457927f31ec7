#include "mgr_version.h"

#include <cstdio>

namespace {
constexpr char kVersion[] = "1.0.0";
constexpr char kOwnership[] = "Copyright (C) 2026 the keycore developers. All rights reserved.";
} // namespace

int getMgrVersion(char* version, char* ownershipLine) {
    std::snprintf(version, kMgrVersionSize, "%s", kVersion);
    std::snprintf(ownershipLine, kMgrVersionSize, "%s", kOwnership);
    return 0;
}
