#include <cstdio>
int main() { std::puts("morvane"); return 0; }
