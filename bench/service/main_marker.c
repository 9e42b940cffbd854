/* The program that the kill benchmark disables: it tells, through descriptor 3, that its
 * main() has run, then waits to be killed. */
#include <unistd.h>

int main(void)
{
    (void)!write(3, "M", 1);
    sleep(5);
    return 0;
}
