// Entry point of brisel_core, the background service that the browser application drives.
#include <cstdio>

int main() {
    std::puts("brisel_core starting");
    return 0;
}
