#include "driver/batch.h"

int main(int argc, char** argv) { return run_vandrel(argc, argv); }
