// marlix: the stand-in media player that runs the visualization plug-in.
#include "host.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    HostOptions options;
    std::string error;
    if (!HostParseArgs(argc, argv, &options, &error)) {
        fprintf(stderr, "marlix: %s\n%s", error.c_str(), HostUsage());
        return 2;
    }
    if (options.help) {
        fputs(HostUsage(), stdout);
        return 0;
    }
    return HostRun(options);
}
