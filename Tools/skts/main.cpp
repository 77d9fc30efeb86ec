#include <cstdio>

int main()
{
    std::puts("skts: no commands yet");
    return 0;
}
