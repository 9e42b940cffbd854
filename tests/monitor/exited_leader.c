/* A process whose first thread renames itself (to argv[1], or "innocent") and exits while a
 * second thread runs on: /proc/<pid>/exe cannot be read any more, and /proc/<pid>/comm keeps
 * the new name. Used by the tests of the monitor. */
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

static void* WaitForever(void* unused)
{
    (void)unused;
    for (;;)
        pause();
    return 0;
}

int main(int argc, char** argv)
{
    pthread_t thread;
    if (pthread_create(&thread, 0, WaitForever, 0) != 0)
        return 1;
    prctl(PR_SET_NAME, argc > 1 ? argv[1] : "innocent", 0, 0, 0);
    pthread_exit(0);
}
