// Writes the application's icon as a PNG file at build time, so the icon the desktop shows
// is the one the window draws: wmrestore-icon <file> <side>.
#include <cstdlib>
#include <iostream>
#include <string>

#include "ui/SymbolPainter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: wmrestore-icon <file.png> <side>\n";
        return 1;
    }
    const int side = std::atoi(argv[2]);
    if (side < 16 || side > 1024 || !wm::SymbolPainter::applicationIcon(side).save(argv[1], "PNG")) {
        std::cerr << "could not write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
