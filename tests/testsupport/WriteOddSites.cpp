// Writes the segment file of the odd sites (OddSites.h) into the directory
// given as the only argument.
#include <exception>
#include <filesystem>
#include <iostream>

#include "testsupport/OddSites.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_odd_sites <output directory>\n";
        return 2;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        for (const std::string& path :
             ferrow::testsupport::oddsites::writer().write(ferrow::testsupport::oddsites::build(), argv[1])) {
            std::cout << path << '\n';
        }
    } catch (const std::exception& e) {
        std::cerr << "write_odd_sites: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
