// Program entry.
#include <cstdio>

int main() {
    std::printf("korvane 1.11.0\n");
    return 0;
}
