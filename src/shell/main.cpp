#include "shell/start_up.h"

int main(int argc, char** argv) { return tallowcrest::Main(argc, argv); }
