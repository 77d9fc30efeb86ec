#pragma once

namespace CLI {
class App;
}

namespace Skts {

class StdoutSink;

// Adds "register", "unregister" (load a module and call its registration entry point, as
// regsvr32 does) and "filters" (the filter mapper's entries).
void AddRegisterCommands(CLI::App& app, StdoutSink& out, int& exitCode);

} // namespace Skts
