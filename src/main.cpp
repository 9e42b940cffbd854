#include "platform/ProcessServices.h"
#include "shell/CMonitorApp.h"

int main(int argc, char** argv)
{
    // A desktop session starts programs with a soft limit of about a thousand descriptors;
    // the monitor keeps a few for every process it watches.
    platform::RaiseFileLimit();
    CMonitorApp app(argc, argv);
    return app.Run();
}
