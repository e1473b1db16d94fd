#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "cli/options.h"
#include "link/secure_session.h"

namespace brisk {

// brisk-peer id: prints this installation's fingerprint (making the identity on first
// use). Returns the exit status.
int printIdentity(std::ostream& out, std::ostream& err);

// brisk-peer trust list | forget FINGERPRINT. Returns the exit status.
int runTrustCommand(const PeerOptions& options, std::ostream& out, std::ostream& err);

// The encrypted sessions of a listen or connect run: this installation's identity, the
// trusted peers beside the settings, and what the options and the settings choose.
// Nothing, with `error` set, when the identity cannot be had.
std::shared_ptr<SecureSetup> secureSetupFor(const PeerOptions& options, bool encryptedOnly,
                                            std::string& error);

}  // namespace brisk
