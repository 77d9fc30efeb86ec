#pragma once

namespace Skts {

// The source revision skts was built from ("git describe" of the checkout, "-dirty" with
// uncommitted changes; "unknown" outside a git checkout). Written by the build.
const char* BuildId();

} // namespace Skts
