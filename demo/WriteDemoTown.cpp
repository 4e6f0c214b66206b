// Writes the demo data set: the segment files of the demo town (DemoTown.cpp)
// into the directory given as the only argument.
#include <exception>
#include <filesystem>
#include <iostream>

#include "demo/DemoTown.h"
#include "testsupport/SegmentWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_demo_town <output directory>\n";
        return 2;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        const ferrow::testsupport::TestNetwork town = ferrow::demo::buildDemoTown();
        for (const std::string& path : ferrow::testsupport::SegmentWriter().write(town, argv[1])) {
            std::cout << path << '\n';
        }
        std::cout << town.nodes().size() << " nodes, " << town.ways().size() << " ways\n";
    } catch (const std::exception& e) {
        std::cerr << "write_demo_town: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
