// Qap2Gif: converts a phone-image document (.qap) to a GIF file.

#include <iostream>

#include "qap2gif/driver.h"

int main(int argc, char** argv) {
    const int status = qap2gif::run_qap2gif(argc, argv, std::cout);
    std::cout.flush();
    return status;
}
