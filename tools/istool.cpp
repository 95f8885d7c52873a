#include "IS40.h"
int main() { return 0; }
