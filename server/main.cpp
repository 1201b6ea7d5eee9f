#include "run_list_server.h"

int main(int argc, char** argv) {
    return tamberly::runListServer(argc, argv);
}
