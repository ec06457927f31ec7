#pragma once
// The version and ownership texts of the about page.

constexpr int kMgrVersionSize = 128;

// Fills version and ownershipLine (each at least kMgrVersionSize bytes); returns 0.
int getMgrVersion(char* version, char* ownershipLine);
