// Calls fatalError with its argument, so a test can watch the box and the exit code.
#include "platform/platform.h"

int main(int argc, char** argv) {
    fatalError(argc > 1 ? argv[1] : "");
}
