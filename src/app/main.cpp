#include "app/gui/CPZPtestApp.h"

int main(int argc, char* argv[]) {
    return pw::app::RunPostwick(argc, argv);
}
