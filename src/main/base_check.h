#pragma once

#include "platform/errors.h"

#include <string>

namespace tarnwell {

// The base directory holds the image and the attach result, which root's
// shell writes and the tool trusts: it and every folder above it must be
// owned by root (or by whoever runs the tool) and writable by nobody else.
// A sticky folder such as /tmp is no exception. The failure names the
// first folder that is not so, and why.
Result checkBaseDirectory(const std::string& path);

}  // namespace tarnwell
