#include "app/RunLumora.h"

int main(int argc, char** argv) { return RunLumora(argc, argv); }
