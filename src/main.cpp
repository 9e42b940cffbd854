#include "shell/CMonitorApp.h"

#include <csignal>

int main(int argc, char** argv)
{
    // A write to a pipe whose reader has gone (stderr into a closed pipe, say) fails with
    // EPIPE and is reported like any other failed write, instead of ending the program.
    std::signal(SIGPIPE, SIG_IGN);
    CMonitorApp app(argc, argv);
    return app.Run();
}
