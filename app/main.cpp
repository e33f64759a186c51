// Converts each log named on the command line with the default settings and prints the report.
#include <iostream>

#include "convert.h"

int main(int argc, char** argv) {
    ts::RecordingHost host(true);
    ts::EngineContext ctx(host);
    bool failed = false;
    for (int i = 1; i < argc; ++i) {
        ts::ConvertFile(ctx, argv[i]);
        if (host.status[0].find("<<Error!!>>") != std::string::npos) failed = true;
        if (!host.status[0].empty()) std::cout << host.status[0] << '\n';
    }
    std::cout << "*** Made: " << host.filesMade << " files ***\n";
    return failed ? 1 : 0;
}
