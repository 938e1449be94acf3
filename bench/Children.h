// The measuring children: each runs in a process of its own, started by the driver as
// `vela_bench window|engine|raw|server-copy ...` (WindowChild.cpp, EngineChild.cpp, RawLoopChild.cpp,
// ServerCopyChild.cpp), so its memory and its engine state are its own, on its own copy of the
// template, and writes a Report.
#pragma once

#include "bench/ChildReport.h"

#include <string>
#include <vector>

namespace vela::bench {

struct ChildOptions {
    std::string source;              // back-office database
    std::string templ;               // the empty template
    std::string folder;              // a folder of the child's own
    std::vector<std::string> copies; // sincronizaX names to include (raw, server); empty: all
    int ftpPort = 0;                 // window: upload to 127.0.0.1 at this port after the run
    bool forcedWritesOff = false;    // window, engine, raw: the mobile file without forced writes
    std::string report;              // where the report goes
};

int windowMain(const ChildOptions& o);
int engineMain(const ChildOptions& o);
int rawMain(const ChildOptions& o);
int serverCopyMain(const ChildOptions& o);

} // namespace vela::bench
