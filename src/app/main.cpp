// Program entry.
#include <cstdio>

#include "image/pool.h"

int main() {
    PoolStart();
    std::printf("korvane 1.11.0: %llu processors, %llu worker threads\n",
                static_cast<unsigned long long>(PoolGetProcessorCount()),
                static_cast<unsigned long long>(g_PoolThreadCount.load()));
    PoolStop();
    return 0;
}
