#include "command_line.h"

int main(int argc, char** argv) {
    return tamberly::runListServer(argc, argv);
}
