#include "app/run_tamberly.h"

#include <QWidget>

int main(int argc, char* argv[]) {
    return tamberly::runTamberly(argc, argv, [](QWidget& window) { window.show(); });
}
