#include "app.h"

int main(int argc, char** argv) { return fwsetup::Main(argc, argv); }
