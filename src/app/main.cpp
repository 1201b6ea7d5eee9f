#include "app/run_tamberly.h"
#include "platform/linux/heap_reuse.h"

#include <QWidget>

int main(int argc, char* argv[]) {
    tamberly::keepFreedBuffersForReuse();
    return tamberly::runTamberly(argc, argv, [](QWidget& window) { window.show(); });
}
