#include <cstdio>

int main()
{
    std::puts("Orvane: the window is not built yet; the core and its tests are.");
    return 0;
}
