#pragma once
// A stand-in card for testing the transports where the card's own behaviour does not matter
// (`vtoken serve --applet echo`). It keeps nothing on disk.
//   80 50 00 00 00 00 Le    Le random bytes, 90 00 (the GenRandom shape)
//   80 EE HH LL             HHLL bytes counting up from 0, 90 00 (answers of any length)
//   anything else           the command itself, 90 00

#include <memory>
#include <string>

#include "vtoken/applet/token_applet.h"

namespace vtoken {

std::unique_ptr<TokenApplet> MakeEchoApplet(const TokenProfile& profile);

} // namespace vtoken
