// Qap2Gif: converts a phone-image document (.qap) to a GIF file.

#include <iostream>

#include "driver.h"

int main(int argc, char** argv) {
    const int status = run_qap2gif(argc, argv, std::cout);
    std::cout.flush();
    return status;
}
