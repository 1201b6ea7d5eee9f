// The program as it starts for a user, quitting once its window has been shown: start-up time and peak memory.

#include "first_show.h"

#include "app/run_tamberly.h"
#include "platform/linux/heap_reuse.h"

int main(int argc, char* argv[]) {
    tamberly::keepFreedBuffersForReuse(); // as the program's main does
    return tamberly::runTamberly(argc, argv, [](QWidget& window) { tamberly::bench::showThenQuit(window); });
}
